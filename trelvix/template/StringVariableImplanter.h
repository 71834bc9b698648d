// Expands path templates such as "D{AZIMUTH:%03d}_ch{CHANNEL:%02d}.flt": each
// parameter {NAME:format} is replaced by the value of the variable NAME
// printed with the Boost.Format directive `format`.
#ifndef TRELVIX_TEMPLATE_STRINGVARIABLEIMPLANTER_H
#define TRELVIX_TEMPLATE_STRINGVARIABLEIMPLANTER_H

#include <cstddef>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include <boost/format.hpp>
#include <boost/optional.hpp>

namespace trelvix {

// A path template format that Boost.Format must not be given: a width,
// precision or argument number too large to print (Boost.Format would
// overflow parsing it, and the stream it prints with takes such a field on
// the stack), or a tabulation directive, whose fill character Boost.Format
// can miscount into a write past its own buffer.
class UnusableFormat : public boost::io::format_error {
public:
  UnusableFormat(const std::string& format, const std::string& why)
      : message_("path template format '" + format + "' " + why) {}
  const char* what() const noexcept override { return message_.c_str(); }

private:
  std::string message_;
};

// A backslash makes the next character literal: "\{" is no parameter
// opening, and in the text before a parameter and inside a parameter the
// backslash itself is removed. The text after the last parameter is copied
// as it is, backslashes included.
template <typename CharT>
class BasicStringVariableImplanter {
public:
  using String = std::basic_string<CharT>;

  // Location of one parameter: its opening brace, the colon between name
  // and format, and one past its closing brace.
  struct ParamInfo {
    std::size_t begin;
    std::size_t colon;
    std::size_t end;
  };

  std::map<String, double> variables;

  // Replaces every parameter in `text`. An unknown variable's parameter is
  // kept as written, or dropped if `remove_unknown`. Throws Boost.Format's
  // errors (too_many_args, too_few_args, bad_format_string) for a format
  // with no directive, with several, or an ill-formed one, and
  // UnusableFormat for a number above 1024 inside a directive or a
  // tabulation directive (%t, %T).
  void Implant(String& text, bool remove_unknown) const {
    std::basic_ostringstream<CharT> out;
    std::size_t copied = 0;
    boost::optional<ParamInfo> param = FindParam(text, 0);
    while (param) {
      out << Unescape(text.substr(copied, param->begin - copied));
      copied = param->end;
      const std::pair<String, String> nameAndFormat = ParseParam(text, *param);
      const auto variable = variables.find(nameAndFormat.first);
      if (variable != variables.end()) {
        CheckDirectiveNumbers(nameAndFormat.second);
        boost::basic_format<CharT> format(nameAndFormat.second);
        format % variable->second;
        out << format.str();
      } else if (!remove_unknown) {
        out << text.substr(param->begin, param->end - param->begin);
      }
      param = FindParam(text, param->end);
    }
    out << text.substr(copied);
    text = out.str();
  }

  // First `c` at or after `start` not directly preceded by a backslash.
  boost::optional<std::size_t> FindUnescaped(const String& text, CharT c, std::size_t start) const {
    std::size_t found = text.find(c, start);
    if (found == 0) return found;
    while (found != String::npos && text[found - 1] == Backslash()) found = text.find(c, found + 1);
    if (found == String::npos) return boost::none;
    return found;
  }

  // Next "{name:format}" at or after `start`; brace pairs without a colon
  // after the opening brace are literal text and skipped.
  boost::optional<ParamInfo> FindParam(const String& text, std::size_t start) const {
    while (start < text.size()) {
      const boost::optional<std::size_t> open = FindUnescaped(text, CharT('{'), start);
      if (!open) return boost::none;
      const boost::optional<std::size_t> close = FindUnescaped(text, CharT('}'), *open + 1);
      if (!close) return boost::none;
      const std::size_t colon = text.rfind(CharT(':'), *close - 1);
      start = *close + 1;
      if (colon != String::npos && colon > *open) return ParamInfo{*open, colon, *close + 1};
    }
    return boost::none;
  }

  // The unescaped name and format of a parameter found by FindParam.
  std::pair<String, String> ParseParam(const String& text, const ParamInfo& param) const {
    return {Unescape(text.substr(param.begin + 1, param.colon - param.begin - 1)),
            Unescape(text.substr(param.colon + 1, param.end - param.colon - 2))};
  }

  // Removes each escaping backslash and keeps the character after it; a
  // trailing lone backslash is dropped.
  String Unescape(const String& text) const {
    String result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == Backslash()) {
        if (++i == text.size()) break;
      }
      result += text[i];
    }
    return result;
  }

  // Throws UnusableFormat when a number inside a directive ("%0400d",
  // "%.9999999f", "%|1000000$d|", "%99999%") exceeds 1024, or when a
  // directive tabulates ("%10t", "%20T*"); literal text around the
  // directives is not looked at.
  static void CheckDirectiveNumbers(const String& format) {
    constexpr unsigned long kMaxNumber = 1024;
    // Everything Boost.Format reads between the "%" (or the "%|" that opens
    // a bracketed directive) and the conversion character or closing "|":
    // flags (including its "=" and "_"), "*", ".", "$" and size modifiers.
    const String flags = String("-=_+ #0'$.*hlLjzwI");
    std::size_t i = 0;
    while (i < format.size()) {
      if (format[i] != CharT('%')) {
        ++i;
        continue;
      }
      std::size_t j = i + 1;
      if (j < format.size() && format[j] == CharT('%')) {
        i = j + 1;
        continue;
      }
      if (j < format.size() && format[j] == CharT('|')) ++j;
      while (j < format.size()) {
        if (format[j] >= CharT('0') && format[j] <= CharT('9')) {
          unsigned long value = 0;
          for (; j < format.size() && format[j] >= CharT('0') && format[j] <= CharT('9'); ++j)
            if (value <= kMaxNumber) value = value * 10 + static_cast<unsigned long>(format[j] - CharT('0'));
          if (value > kMaxNumber)
            throw UnusableFormat(std::string(format.begin(), format.end()),
                                 "has a width, precision or argument number above 1024");
        } else if (flags.find(format[j]) != String::npos) {
          ++j;
        } else {
          break;
        }
      }
      if (j < format.size() && (format[j] == CharT('t') || format[j] == CharT('T')))
        throw UnusableFormat(std::string(format.begin(), format.end()), "uses a tabulation directive (%t or %T)");
      i = j + 1;  // past the conversion character
    }
  }

private:
  static CharT Backslash() { return CharT('\\'); }
};

using StringVariableImplanter = BasicStringVariableImplanter<char>;

}  // namespace trelvix

#endif
