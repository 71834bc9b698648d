// Compact JSON text for the command-line tools (veskdump, tfcheck): commas
// are placed by the nesting state; the text is kept whole, or handed to a
// sink in blocks so that memory stays small whatever the output's size.
#ifndef VESKIO2_TOOLS_JSONWRITER_H
#define VESKIO2_TOOLS_JSONWRITER_H

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <glibmm/ustring.h>

#include "veskio2/NumberText.h"

namespace veskio2 {

class JsonWriter {
public:
  // Receives the text in order, in blocks of about 64 KiB; may throw.
  using Sink = std::function<void(const std::string& text)>;

  // Keeps the whole text (Text()). Doubles are written with
  // `doubleDigits` significant digits (17 reads back bit-exact).
  explicit JsonWriter(int doubleDigits = 17) : doubleDigits_(doubleDigits) {}
  // Hands the text to `sink` as it grows; call Flush() at the end.
  explicit JsonWriter(Sink sink, int doubleDigits = 17) : sink_(std::move(sink)), doubleDigits_(doubleDigits) {}

  // Hands the text so far to the sink (nothing without one).
  void Flush() {
    if (!sink_) return;
    sink_(out_);
    out_.clear();
  }
  const std::string& Text() const { return out_; }

  void Newline() { out_ += '\n'; }
  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  void Key(const char* key) {
    Separate();
    Quote(key);
    out_ += ':';
    afterKey_ = true;
  }
  void String(const std::string& text) {
    Separate();
    Quote(text);
  }
  void Bool(bool value) {
    Separate();
    out_ += value ? "true" : "false";
  }
  void Integer(long long value) {
    Separate();
    out_ += std::to_string(value);
  }
  // Shortest text that reads back to the same float; non-finite values as
  // the strings "nan", "inf", "-inf" (stored data is shown, not hidden).
  void Float(float value) {
    Separate();
    const std::string text = FloatToText(value);
    if (text == "nan" || text == "inf" || text == "-inf")
      Quote(text);
    else
      out_ += text;
  }
  // With the writer's significant digits; a non-finite value is null (a
  // figure that could not be computed).
  void Number(double value) {
    Separate();
    if (!std::isfinite(value)) {
      out_ += "null";
      return;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", doubleDigits_, value);
    out_ += text;
  }
  // `"key":value` for strings, booleans, integers and doubles, and arrays of
  // strings or doubles.
  template <typename T>
  void Field(const char* key, const T& value) {
    Key(key);
    Put(value);
  }

private:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;

  void Put(const std::string& v) { String(v); }
  void Put(const char* v) { String(v); }
  void Put(bool v) { Bool(v); }
  void Put(int v) { Integer(v); }
  void Put(long v) { Integer(v); }
  void Put(long long v) { Integer(v); }
  void Put(unsigned int v) { Integer(v); }
  void Put(unsigned long v) { Integer(static_cast<long long>(v)); }
  void Put(double v) { Number(v); }
  template <typename T>
  void Put(const std::vector<T>& values) {
    BeginArray();
    for (const T& v : values) Put(v);
    EndArray();
  }

  void Separate() {
    if (sink_ && out_.size() >= kBlockBytes) Flush();
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (!first_.empty()) {
      if (!first_.back()) out_ += ',';
      first_.back() = false;
    }
  }
  void Open(char c) {
    Separate();
    out_ += c;
    first_.push_back(true);
  }
  void Close(char c) {
    first_.pop_back();
    out_ += c;
  }
  // Escapes quotes, backslashes and control characters; valid UTF-8 passes
  // as is, and in a text that is not valid UTF-8 every non-ASCII byte
  // becomes U+FFFD, so that the output is always valid JSON.
  void Quote(const std::string& text) {
    const bool valid = Glib::ustring(text).validate();
    out_ += '"';
    for (unsigned char c : text) {
      switch (c) {
        case '"':
          out_ += "\\\"";
          break;
        case '\\':
          out_ += "\\\\";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\r':
          out_ += "\\r";
          break;
        case '\t':
          out_ += "\\t";
          break;
        case '\b':
          out_ += "\\b";
          break;
        case '\f':
          out_ += "\\f";
          break;
        default:
          if (c < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out_ += code;
          } else if (c >= 0x80 && !valid) {
            out_ += "\\ufffd";
          } else {
            out_ += static_cast<char>(c);
          }
      }
    }
    out_ += '"';
  }

  Sink sink_;
  int doubleDigits_;
  std::string out_;
  std::vector<bool> first_;
  bool afterKey_ = false;
};

}  // namespace veskio2

#endif
