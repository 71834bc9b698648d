#include "NumberText.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace veskio2 {
namespace detail {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The text without surrounding whitespace, and without one leading '+' when
// `allowPlus` (from_chars takes no '+'). Empty when nothing is left.
std::string_view Core(std::string_view text, bool allowPlus) {
  std::string_view::size_type begin = 0, end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  if (allowPlus && begin < end && text[begin] == '+') {
    ++begin;
    // "+-1" must not become "-1".
    if (begin < end && (text[begin] == '-' || text[begin] == '+')) return std::string_view();
  }
  return text.substr(begin, end - begin);
}

template <typename T>
bool ParseWhole(std::string_view text, T& value, std::string& reason) {
  const std::string_view core = Core(text, true);
  if (core.empty()) {
    reason = "not a number";
    return false;
  }
  T parsed{};
  const auto result = std::from_chars(core.data(), core.data() + core.size(), parsed);
  if (result.ec == std::errc::result_out_of_range) {
    reason = "out of range";
    return false;
  }
  if (result.ec != std::errc() || result.ptr != core.data() + core.size()) {
    reason = "not a number";
    return false;
  }
  value = parsed;
  return true;
}

}  // namespace

bool TextToUnsigned(std::string_view text, unsigned int& value, std::string& reason) {
  return ParseWhole(text, value, reason);
}

bool TextToInt(std::string_view text, int& value, std::string& reason) { return ParseWhole(text, value, reason); }

bool TextToFloat(std::string_view text, float& value, std::string& reason) {
  // The general format: decimal and exponent forms plus nan/inf, never
  // hexadecimal; locale-independent, unlike strtof.
  return ParseWhole(text, value, reason);
}

}  // namespace detail

std::string FloatToText(float value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace veskio2
