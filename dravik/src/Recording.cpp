#include "Recording.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "veskio2/RegularFile.h"

namespace dravik {
namespace {

// About 128 KiB per block whatever the channel count: large enough that the
// per-call cost vanishes, small enough to stay in cache while it is summed.
constexpr int kBlockBytes = 1 << 17;

}  // namespace

bool Recording::open(const std::string& path) {
  // A pipe would block the open until a writer comes, a device never end;
  // the run seeks to every period, so only a regular file will do.
  if (veskio2::ExistsButNotRegular(path)) {
    std::printf("%s: %s\n", path.c_str(), veskio2::kNotRegularFile);
    return false;
  }
  SF_INFO info{};
  info.format = 0;
  SNDFILE* raw = sf_open(path.c_str(), SFM_READ, &info);
  if (!raw) return false;
  SndfileHandle file(raw);
  if (info.channels < 1 || info.frames < 0) return false;
  file_ = std::move(file);
  channels_ = info.channels;
  frames_ = static_cast<int>(std::min<sf_count_t>(info.frames, INT_MAX));
  sample_rate_ = info.samplerate;
  missing_reported_ = false;
  pcm16_ = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
  // Buffers are sized on first use: a run reads one kind only.
  block_.clear();
  pcm16_block_.clear();
  return true;
}

void Recording::report_missing(long long frame) {
  if (missing_reported_) return;
  missing_reported_ = true;
  std::printf("cannot read frame=%d\n", static_cast<int>(frame));
}

template <typename Sample, typename Reader, typename Consumer>
long long Recording::read_blocks(long long start, long long count, std::vector<Sample>& block, Reader reader,
                                 const Consumer& consume) {
  if (count <= 0) return 0;
  if (sf_seek(file_.get(), start, SEEK_SET) != start) {
    report_missing(start);
    return 0;
  }
  if (block.empty()) {
    const int block_frames = std::max(1, kBlockBytes / static_cast<int>(sizeof(Sample)) / channels_);
    block.assign(static_cast<std::size_t>(block_frames) * channels_, Sample());
  }
  const int block_frames = static_cast<int>(block.size() / channels_);
  long long done = 0;
  while (done < count) {
    int want = static_cast<int>(std::min<long long>(block_frames, count - done));
    sf_count_t got = reader(file_.get(), block.data(), want);
    if (got > 0) consume(block.data(), start + done, static_cast<int>(got));
    if (got > 0) done += got;
    if (got < want) {
      report_missing(start + done);
      break;
    }
  }
  return done;
}

long long Recording::read(long long start, long long count, const BlockConsumer& consume) {
  return read_blocks(start, count, block_, sf_readf_double, consume);
}

long long Recording::read_pcm16(long long start, long long count, const Pcm16BlockConsumer& consume) {
  return read_blocks(start, count, pcm16_block_, sf_readf_short, consume);
}

}  // namespace dravik
