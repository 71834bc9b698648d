// Compact JSON text for the check's report; commas are placed by the
// nesting state.
#ifndef VESK_TFCHECK_JSONTEXT_H
#define VESK_TFCHECK_JSONTEXT_H

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace vesktools {

class JsonText {
public:
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
  // Seven significant digits (the check's figures are estimates); a
  // non-finite value is null.
  void Number(double value) {
    Separate();
    if (!std::isfinite(value)) {
      out_ += "null";
      return;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", value);
    out_ += text;
  }
  template <typename T>
  void Field(const char* key, const T& value) {
    Key(key);
    Put(value);
  }
  const std::string& Text() const { return out_; }

private:
  void Put(const std::string& v) { String(v); }
  void Put(const char* v) { String(v); }
  void Put(bool v) { Bool(v); }
  void Put(int v) { Integer(v); }
  void Put(long v) { Integer(v); }
  void Put(unsigned long v) { Integer(static_cast<long long>(v)); }
  void Put(unsigned int v) { Integer(v); }
  void Put(double v) { Number(v); }
  void Separate() {
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
  // Escapes quotes, backslashes and control characters; other bytes pass.
  void Quote(const std::string& text) {
    out_ += '"';
    for (unsigned char c : text) {
      if (c == '"') out_ += "\\\"";
      else if (c == '\\') out_ += "\\\\";
      else if (c < 0x20) {
        char code[8];
        std::snprintf(code, sizeof code, "\\u%04x", c);
        out_ += code;
      } else out_ += static_cast<char>(c);
    }
    out_ += '"';
  }

  std::string out_;
  std::vector<bool> first_;
  bool afterKey_ = false;
};

}  // namespace vesktools

#endif
