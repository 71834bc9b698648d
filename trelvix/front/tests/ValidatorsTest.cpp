#include <string>
#include <vector>

#include <boost/program_options.hpp>
#include <gtest/gtest.h>

#include "options/validators.h"

namespace po = boost::program_options;
using trelvix::CommaSeparatedOption;
using trelvix::Mode;
using trelvix::OutputFormat;
using trelvix::OutputType;

namespace {

// Converts one token as the parser would for an option of type T.
template <typename T>
T Convert(const std::string& token) {
  boost::any holder;
  trelvix::validate(holder, std::vector<std::string>{token}, static_cast<T*>(nullptr), 0);
  return boost::any_cast<T>(holder);
}

std::vector<unsigned int> Channels(const std::string& token) {
  return Convert<CommaSeparatedOption<unsigned int>>(token).values;
}

// The text the rejected token carries, as the exception reports it.
template <typename T>
std::string Rejected(const std::string& token) {
  try {
    Convert<T>(token);
  } catch (const po::invalid_option_value& e) {
    return e.what();
  }
  return "(accepted)";
}

std::string InvalidMessage(const std::string& value) {
  if (value.empty()) return "the argument for option is invalid";
  return "the argument ('" + value + "') for option is invalid";
}

}  // namespace

TEST(Validators, EnumerationKeywordsGiveTheirValues) {
  EXPECT_EQ(Mode::TEMPLATE, Convert<Mode>("template"));
  EXPECT_EQ(1, static_cast<int>(Convert<Mode>("tf")));
  EXPECT_EQ(OutputFormat::XML, Convert<OutputFormat>("xml"));
  EXPECT_EQ(OutputFormat::BINARY, Convert<OutputFormat>("binary"));
  const char* types[] = {"mic", "noise", "ir", "tsp", "m2pg", "gtf"};
  for (int value = 0; value < 6; ++value)
    EXPECT_EQ(value, static_cast<int>(Convert<OutputType>(types[value]))) << types[value];
}

TEST(Validators, EnumerationsRejectOtherCaseSpacesAndAbbreviations) {
  EXPECT_EQ(InvalidMessage("Template"), Rejected<Mode>("Template"));
  EXPECT_EQ(InvalidMessage("TF"), Rejected<Mode>("TF"));
  EXPECT_EQ(InvalidMessage("xml "), Rejected<OutputFormat>("xml "));
  EXPECT_EQ(InvalidMessage("bin"), Rejected<OutputFormat>("bin"));
  EXPECT_EQ(InvalidMessage(""), Rejected<OutputType>(""));
  EXPECT_EQ(InvalidMessage("template"), Rejected<OutputType>("template"));
}

TEST(Validators, SecondOccurrenceIsRejected) {
  boost::any holder = Mode::TF;
  EXPECT_THROW(trelvix::validate(holder, {"template"}, static_cast<Mode*>(nullptr), 0), po::multiple_occurrences);
  boost::any list = CommaSeparatedOption<unsigned int>();
  EXPECT_THROW(trelvix::validate(list, {"1"}, static_cast<CommaSeparatedOption<unsigned int>*>(nullptr), 0),
               po::multiple_occurrences);
}

TEST(Validators, ChannelListsKeepOrderAndRepeats) {
  EXPECT_EQ(std::vector<unsigned int>({3}), Channels("3"));
  EXPECT_EQ(std::vector<unsigned int>({0, 2, 4}), Channels("0,2,4"));
  EXPECT_EQ(std::vector<unsigned int>({4, 4, 1}), Channels("4,4,1"));
  EXPECT_EQ(std::vector<unsigned int>({4294967295u}), Channels("4294967295"));
}

TEST(Validators, ChannelListsDropEmptyPieces) {
  EXPECT_EQ(std::vector<unsigned int>({1, 2}), Channels("1,,2"));
  EXPECT_EQ(std::vector<unsigned int>({5}), Channels(",5,"));
  EXPECT_TRUE(Channels(",").empty());
}

TEST(Validators, ChannelListsReportTheFailingPiece) {
  using List = CommaSeparatedOption<unsigned int>;
  EXPECT_EQ(InvalidMessage(""), Rejected<List>(""));
  EXPECT_EQ(InvalidMessage(" 2"), Rejected<List>("1, 2"));
  EXPECT_EQ(InvalidMessage("x"), Rejected<List>("1,x,3"));
  EXPECT_EQ(InvalidMessage("3 "), Rejected<List>("3 "));
  EXPECT_EQ(InvalidMessage("1.5"), Rejected<List>("1.5"));
  EXPECT_EQ(InvalidMessage("4294967296"), Rejected<List>("0,4294967296"));
  // A negative channel would otherwise wrap round to 4294967295.
  EXPECT_EQ(InvalidMessage("-1"), Rejected<List>("-1"));
  EXPECT_EQ(InvalidMessage("-3"), Rejected<List>("2,-3"));
}
