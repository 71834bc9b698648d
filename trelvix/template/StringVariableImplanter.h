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
  // with no directive, with several, or an ill-formed one.
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
  boost::optional<std::size_t> FindUnescaped(const String& text, CharT c,
                                             std::size_t start) const {
    std::size_t found = text.find(c, start);
    if (found == 0) return found;
    while (found != String::npos && text[found - 1] == Backslash())
      found = text.find(c, found + 1);
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

private:
  static CharT Backslash() { return CharT('\\'); }
};

using StringVariableImplanter = BasicStringVariableImplanter<char>;

}  // namespace trelvix

#endif
