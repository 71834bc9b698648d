#include "options/validators.h"

#include <cassert>
#include <string>

#include <boost/lexical_cast.hpp>
#include <boost/program_options/errors.hpp>
#include <boost/program_options/value_semantic.hpp>
#include <boost/tokenizer.hpp>

namespace po = boost::program_options;

namespace trelvix {

namespace {

// Matches the single token of this occurrence against the keywords, exactly
// and case-sensitively; the first match is stored.
template <typename Enum, size_t N>
void ValidateKeyword(boost::any& v, const std::vector<std::string>& values,
                     const std::pair<const char*, Enum> (&keywords)[N]) {
  po::validators::check_first_occurrence(v);
  const std::string& token = po::validators::get_single_string(values);
  for (const auto& keyword : keywords) {
    if (token == keyword.first) {
      v = boost::any(keyword.second);
      return;
    }
  }
  throw po::invalid_option_value(token);
}

// Whole-token conversion to unsigned int. A leading minus sign is refused:
// the stream conversion would otherwise wrap "-1" round to 4294967295.
unsigned int ToUnsigned(const std::string& piece) {
  if (!piece.empty() && piece[0] == '-') throw po::invalid_option_value(piece);
  try {
    return boost::lexical_cast<unsigned int>(piece);
  } catch (const boost::bad_lexical_cast&) {
    throw po::invalid_option_value(piece);
  }
}

}  // namespace

void validate(boost::any& v, const std::vector<std::string>& values, Mode*, int) {
  static const std::pair<const char*, Mode> keywords[] = {{"template", Mode::TEMPLATE}, {"tf", Mode::TF}};
  ValidateKeyword(v, values, keywords);
}

void validate(boost::any& v, const std::vector<std::string>& values, OutputFormat*, int) {
  static const std::pair<const char*, OutputFormat> keywords[] = {{"xml", OutputFormat::XML},
                                                                  {"binary", OutputFormat::BINARY}};
  ValidateKeyword(v, values, keywords);
}

void validate(boost::any& v, const std::vector<std::string>& values, OutputType*, int) {
  static const std::pair<const char*, OutputType> keywords[] = {
      {"mic", OutputType::MIC}, {"noise", OutputType::NOISE}, {"ir", OutputType::IR},
      {"tsp", OutputType::TSP}, {"m2pg", OutputType::M2PG},   {"gtf", OutputType::GTF}};
  ValidateKeyword(v, values, keywords);
}

void validate(boost::any& v, const std::vector<std::string>& values, CommaSeparatedOption<unsigned int>*, int) {
  po::validators::check_first_occurrence(v);
  v = boost::any(CommaSeparatedOption<unsigned int>());
  auto* list = boost::any_cast<CommaSeparatedOption<unsigned int>>(&v);
  assert(list != nullptr);

  const std::string& token = po::validators::get_single_string(values);
  if (token.find(',') == std::string::npos) {
    list->values.push_back(ToUnsigned(token));
    return;
  }
  const boost::char_separator<char> separator(",", "", boost::drop_empty_tokens);
  const boost::tokenizer<boost::char_separator<char>> pieces(token, separator);
  for (const std::string& piece : pieces) list->values.push_back(ToUnsigned(piece));
}

}  // namespace trelvix
