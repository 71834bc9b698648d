#include "SoundFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

#include <sndfile.h>

#include "FloatFile.h"
#include "ToolError.h"
#include "base/SoundFileHandle.h"
#include "veskio2/RegularFile.h"

namespace vesktools {
namespace {

// A wave file made in memory (libsndfile seeks back to finish the header,
// which a FIFO would not allow) and then written to its output target.
class MemoryWave {
public:
  MemoryWave(const std::string& path, SF_INFO& info) : path_(path) {
    SF_VIRTUAL_IO io{&Length, &Seek, &Read, &Write, &Tell};
    file_.reset(sf_open_virtual(&io, SFM_WRITE, &info, this));
    if (!file_) throw ToolError("cannot create " + path + ": " + sf_strerror(nullptr));
  }
  SNDFILE* get() const { return file_.get(); }
  // Finishes the header and writes the file.
  void Save() {
    file_.reset();
    WriteOutputFile(path_, bytes_.data(), bytes_.size());
  }

private:
  static MemoryWave& Self(void* user) { return *static_cast<MemoryWave*>(user); }
  static sf_count_t Length(void* user) { return static_cast<sf_count_t>(Self(user).bytes_.size()); }
  static sf_count_t Seek(sf_count_t offset, int whence, void* user) {
    MemoryWave& w = Self(user);
    const sf_count_t base = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? w.at_
                                                 : static_cast<sf_count_t>(w.bytes_.size());
    if (base + offset < 0) return -1;
    w.at_ = base + offset;
    return w.at_;
  }
  static sf_count_t Read(void* ptr, sf_count_t count, void* user) {
    MemoryWave& w = Self(user);
    const sf_count_t size = static_cast<sf_count_t>(w.bytes_.size());
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - w.at_));
    if (n > 0) std::memcpy(ptr, w.bytes_.data() + w.at_, static_cast<std::size_t>(n));
    w.at_ += n;
    return n;
  }
  static sf_count_t Write(const void* ptr, sf_count_t count, void* user) {
    MemoryWave& w = Self(user);
    const std::size_t end = static_cast<std::size_t>(w.at_ + count);
    if (end > w.bytes_.size()) w.bytes_.resize(end);
    std::memcpy(w.bytes_.data() + w.at_, ptr, static_cast<std::size_t>(count));
    w.at_ += count;
    return count;
  }
  static sf_count_t Tell(void* user) { return Self(user).at_; }

  std::string path_;
  std::vector<char> bytes_;
  sf_count_t at_ = 0;
  vesk::SoundFileHandle file_;
};

}  // namespace

Sound ReadSound(const std::string& path) {
  SoundReader reader(path);
  const std::size_t frames = reader.Frames();
  const auto numChannels = static_cast<std::size_t>(reader.Channels());
  Sound sound;
  sound.sampleRateHz = reader.SampleRateHz();
  // Read in blocks straight into the channels: the samples are held once.
  // The channels grow with the frames read, not with the header's claim.
  constexpr std::size_t kBlockFrames = 4096;
  sound.channels.assign(numChannels, std::vector<double>());
  for (auto& channel : sound.channels) channel.reserve(std::min<std::size_t>(frames, std::size_t{1} << 20));
  std::vector<double> block(kBlockFrames * numChannels);
  std::size_t done = 0;
  while (done < frames) {
    const std::size_t got = reader.Read(block.data(), std::min(kBlockFrames, frames - done));
    if (got == 0) break;
    for (std::size_t t = 0; t < got; ++t)
      for (std::size_t ch = 0; ch < numChannels; ++ch) sound.channels[ch].push_back(block[t * numChannels + ch]);
    done += got;
  }
  if (done != frames) {
    std::ostringstream msg;
    msg << path << ": expected " << frames << " frames, found " << done;
    throw ToolError(msg.str());
  }
  return sound;
}

namespace {

// The WAV header's sizes are 32-bit: the RIFF size (36 bytes of header
// after it plus the samples) must not wrap. Throws ToolError naming the file.
void CheckWaveSize(const std::string& path, std::size_t frames, std::size_t channels, std::size_t bytesPerSample) {
  constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;
  const uint64_t limitSamples = kMaxDataBytes / bytesPerSample;
  if (channels != 0 && frames > limitSamples / channels) {
    std::ostringstream msg;
    msg << "cannot write " << path << ": " << frames << " frames of " << channels
        << " channels exceed the 4 GiB a WAV file can hold";
    throw ToolError(msg.str());
  }
}

}  // namespace

void WriteSound(const std::string& path, const Sound& sound, WaveFormat format) {
  const std::size_t numChannels = sound.channels.size();
  const std::size_t frames = sound.Frames();
  if (numChannels == 0) throw ToolError("no channels to write to " + path);
  for (const auto& ch : sound.channels)
    if (ch.size() != frames) throw ToolError("channels of different lengths for " + path);
  CheckWaveSize(path, frames, numChannels, format == WaveFormat::PCM16 ? 2 : 4);

  SF_INFO info{};
  info.samplerate = sound.sampleRateHz;
  info.channels = static_cast<int>(numChannels);
  info.format = SF_FORMAT_WAV | (format == WaveFormat::PCM16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
  if (format == WaveFormat::PCM16) {
    // Convert (and check for clipping) before the file is created, so that a
    // refused recording leaves no half-written file behind.
    std::vector<int16_t> interleaved(frames * numChannels);
    for (std::size_t ch = 0; ch < numChannels; ++ch) {
      for (std::size_t t = 0; t < frames; ++t) {
        const double scaled = std::round(sound.channels[ch][t] * 32768.0);
        if (scaled > 32767.0 || scaled < -32768.0) {
          std::ostringstream msg;
          msg << path << ": channel " << ch << " clips in 16-bit PCM at frame " << t << " (value "
              << sound.channels[ch][t] << "); lower the gain or write float";
          throw ToolError(msg.str());
        }
        interleaved[t * numChannels + ch] = static_cast<int16_t>(scaled);
      }
    }
    MemoryWave file(path, info);
    if (sf_writef_short(file.get(), interleaved.data(), static_cast<sf_count_t>(frames)) !=
        static_cast<sf_count_t>(frames))
      throw ToolError("cannot write " + path + ": " + sf_strerror(file.get()));
    file.Save();
  } else {
    std::vector<float> interleaved(frames * numChannels);
    for (std::size_t ch = 0; ch < numChannels; ++ch)
      for (std::size_t t = 0; t < frames; ++t)
        interleaved[t * numChannels + ch] = static_cast<float>(sound.channels[ch][t]);
    MemoryWave file(path, info);
    if (sf_writef_float(file.get(), interleaved.data(), static_cast<sf_count_t>(frames)) !=
        static_cast<sf_count_t>(frames))
      throw ToolError("cannot write " + path + ": " + sf_strerror(file.get()));
    file.Save();
  }
}

struct SoundReader::Impl {
  SF_INFO info{};
  vesk::SoundFileHandle file;
  std::string path;
};

SoundReader::SoundReader(const std::string& path) : impl_(new Impl) {
  impl_->path = path;
  if (veskio2::ExistsButNotRegular(path)) throw ToolError("cannot open " + path + ": " + veskio2::kNotRegularFile);
  impl_->file.reset(sf_open(path.c_str(), SFM_READ, &impl_->info));
  if (!impl_->file) throw ToolError("cannot open " + path + ": " + sf_strerror(nullptr));
}

SoundReader::~SoundReader() = default;

int SoundReader::Channels() const { return impl_->info.channels; }
int SoundReader::SampleRateHz() const { return impl_->info.samplerate; }
std::size_t SoundReader::Frames() const { return static_cast<std::size_t>(impl_->info.frames); }

double SoundReader::FullScale() const {
  switch (impl_->info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return 127.0 / 128.0;
    case SF_FORMAT_PCM_16:
      return 32767.0 / 32768.0;
    case SF_FORMAT_PCM_24:
      return 8388607.0 / 8388608.0;
    case SF_FORMAT_PCM_32:
      return 2147483647.0 / 2147483648.0;
    default:
      return 1.0;
  }
}

std::size_t SoundReader::Read(double* interleaved, std::size_t frames) {
  const sf_count_t got = sf_readf_double(impl_->file.get(), interleaved, static_cast<sf_count_t>(frames));
  if (got < 0 || (got == 0 && sf_error(impl_->file.get()) != SF_ERR_NO_ERROR))
    throw ToolError("cannot read " + impl_->path + ": " + sf_strerror(impl_->file.get()));
  return static_cast<std::size_t>(got);
}

std::size_t SoundReader::Read(float* interleaved, std::size_t frames) {
  const sf_count_t got = sf_readf_float(impl_->file.get(), interleaved, static_cast<sf_count_t>(frames));
  if (got < 0 || (got == 0 && sf_error(impl_->file.get()) != SF_ERR_NO_ERROR))
    throw ToolError("cannot read " + impl_->path + ": " + sf_strerror(impl_->file.get()));
  return static_cast<std::size_t>(got);
}

void WritePcm16(const std::string& path, int sampleRateHz, const std::vector<int16_t>& samples) {
  CheckWaveSize(path, samples.size(), 1, 2);
  SF_INFO info{};
  info.samplerate = sampleRateHz;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  MemoryWave file(path, info);
  if (sf_writef_short(file.get(), samples.data(), static_cast<sf_count_t>(samples.size())) !=
      static_cast<sf_count_t>(samples.size()))
    throw ToolError("cannot write " + path + ": " + sf_strerror(file.get()));
  file.Save();
}

}  // namespace vesktools
