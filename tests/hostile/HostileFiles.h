// Builders of the files the hostile-input tests feed to the programs:
// configuration XML texts, hand-made wave headers that lie, transfer-function
// binaries with lying counts, raw float files, and valid waves through
// libsndfile.
#ifndef TESTS_HOSTILE_HOSTILEFILES_H
#define TESTS_HOSTILE_HOSTILEFILES_H

#include <sndfile.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/SoundFileHandle.h"
#include "WaveFile.h"

namespace hostile {

// Little-endian byte string builder; every field is written byte by byte.
class Bytes {
public:
  Bytes& Text(const std::string& text) {
    bytes_ += text;
    return *this;
  }
  Bytes& U8(uint8_t v) {
    bytes_ += static_cast<char>(v);
    return *this;
  }
  Bytes& U16(uint16_t v) { return Le(v, 2); }
  Bytes& U32(uint32_t v) { return Le(v, 4); }
  Bytes& U64(uint64_t v) { return Le(v, 8); }
  Bytes& I32(int32_t v) { return Le(static_cast<uint32_t>(v), 4); }
  Bytes& F32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return U32(bits);
  }
  Bytes& Append(const std::string& raw) { return Text(raw); }
  const std::string& Str() const { return bytes_; }
  std::size_t Size() const { return bytes_.size(); }

private:
  Bytes& Le(uint64_t v, int count) {
    for (int i = 0; i < count; ++i) bytes_ += static_cast<char>((v >> (8 * i)) & 0xff);
    return *this;
  }
  std::string bytes_;
};

// Raw little-endian float32 samples, the .flt and float TSP origin format.
inline std::string Flt(const std::vector<float>& samples) {
  Bytes b;
  for (float v : samples) b.F32(v);
  return b.Str();
}

// One period of 16384 samples (dravik's default period) holding a unit
// impulse at sample 0: its spectrum is flat, so a recording of it gives
// the impulse back.
inline std::vector<float> ImpulsePeriod() {
  std::vector<float> period(16384, 0.0f);
  period[0] = 1.0f;
  return period;
}

// A PCM wave header written by hand, with whatever sizes and counts the
// case wants to claim, followed by `data` as the data chunk's bytes.
struct WaveClaims {
  uint16_t formatTag = 1;  // 1 PCM, 3 IEEE float
  uint16_t channels = 2;
  uint32_t sampleRate = 16000;  // Hz
  uint16_t bitsPerSample = 16;
  uint32_t fmtChunkSize = 16;  // bytes
  int64_t dataChunkSize = -1;  // bytes; -1: the real size of `data`
  int64_t riffSize = -1;       // bytes; -1: the real size after "RIFF" and it
};

inline std::string HandMadeWave(const WaveClaims& c, const std::string& data) {
  const uint16_t blockAlign = static_cast<uint16_t>(c.channels * (c.bitsPerSample / 8));
  Bytes body;
  body.Text("WAVE").Text("fmt ").U32(c.fmtChunkSize);
  body.U16(c.formatTag).U16(c.channels).U32(c.sampleRate).U32(c.sampleRate * blockAlign);
  body.U16(blockAlign).U16(c.bitsPerSample);
  body.Text("data").U32(static_cast<uint32_t>(c.dataChunkSize < 0 ? data.size() : c.dataChunkSize));
  body.Append(data);
  Bytes file;
  file.Text("RIFF").U32(static_cast<uint32_t>(c.riffSize < 0 ? body.Size() : c.riffSize));
  return file.Append(body.Str()).Str();
}

// One sample of a wave that differs from the rest.
struct SampleOverride {
  int channel;
  std::size_t frame;
  float value;
};

// A valid float wave of `channels` channels, every channel carrying
// `samples` except where `overrides` say otherwise, written by libsndfile
// at `rateHz`.
inline void WriteWave(const std::string& path, int channels, const std::vector<float>& samples,
                      const std::vector<SampleOverride>& overrides = {}, int rateHz = 16000) {
  const auto width = static_cast<std::size_t>(channels);
  std::vector<float> interleaved(samples.size() * width);
  for (std::size_t t = 0; t < samples.size(); ++t)
    std::fill(interleaved.begin() + static_cast<std::ptrdiff_t>(t * width),
              interleaved.begin() + static_cast<std::ptrdiff_t>((t + 1) * width), samples[t]);
  for (const SampleOverride& o : overrides)
    if (o.frame < samples.size()) interleaved[o.frame * width + static_cast<std::size_t>(o.channel)] = o.value;
  vesk_test::WriteWaveFile(path, interleaved, channels, rateHz);
}

// `text` with the first `from` replaced by `to`; `from` must occur.
inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) throw std::logic_error("test text lacks \"" + from + "\"");
  return text.replace(at, from.size(), to);
}

inline std::string Repeat(const std::string& piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

// Deterministic bytes of every value, NULs included.
inline std::string Garbage(std::size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 12345;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

const char* const kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// A microphone-array file with one microphone, micIndex 0, 1 m along x.
inline std::string MicArrayXml() {
  return std::string(kXmlHead) +
         "<veskconfig id=\"MicArrayLocationFile\" version=\"2.0\">\n"
         "  <mics>\n"
         "    <mic version=\"1\"><micIndex>0</micIndex>"
         "<position x=\"1\" y=\"0\" z=\"0\" distance=\"1\"/></mic>\n"
         "  </mics>\n"
         "</veskconfig>\n";
}

// One source with one file `fltName` for microphone index 0.
inline std::string IRListXml(const std::string& fltName = "ir.flt") {
  return std::string(kXmlHead) +
         "<veskconfig id=\"ImpulseResponseListFile\" version=\"2.0\">\n"
         "  <numMic>1</numMic>\n"
         "  <sources>\n"
         "    <source version=\"2\">\n"
         "      <position x=\"1\" y=\"0\" z=\"0\" distance=\"1\"/>\n"
         "      <cutStart>1</cutStart>\n"
         "      <cutEnd>0</cutEnd>\n"
         "      <files>\n"
         "        <file version=\"1\"><name>" +
         fltName +
         "</name>"
         "<micIndices><micIndex>0</micIndex></micIndices></file>\n"
         "      </files>\n"
         "    </source>\n"
         "  </sources>\n"
         "</veskconfig>\n";
}

// One source element of a TSP list: the recording `wave` for microphone 0.
inline std::string TSPSourceXml(const std::string& wave) {
  return "    <source version=\"2\">\n"
         "      <position x=\"1\" y=\"0\" z=\"0\" distance=\"1\"/>\n"
         "      <cutStart>1</cutStart>\n"
         "      <cutEnd>0</cutEnd>\n"
         "      <files><file version=\"1\"><name>" +
         wave +
         "</name>"
         "<micIndices><micIndex>0</micIndex></micIndices></file></files>\n"
         "    </source>\n";
}

// A TSP list for recordings of one period of the float origin
// "origin.flt", averaged once from sample 0; `sources` are TSPSourceXml.
inline std::string TSPListXml(const std::string& sources) {
  return std::string(kXmlHead) +
         "<veskconfig id=\"TSPListFile\" version=\"2.0\">\n"
         "  <numMic>1</numMic>\n"
         "  <synchronousAverage>1</synchronousAverage>\n"
         "  <tspOffset>0</tspOffset>\n"
         "  <tspLength>16384</tspLength>\n"
         "  <signalMax>1</signalMax>\n"
         "  <originalImpulseFile kind=\"1\">origin.flt</originalImpulseFile>\n"
         "  <sources>\n" +
         sources +
         "  </sources>\n"
         "</veskconfig>\n";
}

// Escapes the five XML special characters of a text.
inline std::string XmlText(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace hostile

#endif
