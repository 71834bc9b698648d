#include <string>

#include <boost/format.hpp>
#include <gtest/gtest.h>

#include "template/StringVariableImplanter.h"

using trelvix::StringVariableImplanter;

namespace {

std::string Expand(const StringVariableImplanter& implanter, std::string text, bool removeUnknown = false) {
  implanter.Implant(text, removeUnknown);
  return text;
}

// The message of what expanding `text` throws.
std::string ErrorOf(const StringVariableImplanter& implanter, const std::string& text) {
  try {
    Expand(implanter, text);
  } catch (const boost::io::format_error& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace

TEST(StringVariableImplanter, DirectivesFormatTheValue) {
  StringVariableImplanter implanter;
  implanter.variables["AZIMUTH"] = 35;
  EXPECT_EQ("D035_00.wav", Expand(implanter, "D{AZIMUTH:%03d}_00.wav"));
  implanter.variables["AZIMUTH"] = 2.5;
  EXPECT_EQ("D2.5_00.wav", Expand(implanter, "D{AZIMUTH:%03d}_00.wav"));
  implanter.variables["AZIMUTH"] = 1000;
  EXPECT_EQ("D1000", Expand(implanter, "D{AZIMUTH:%03d}"));
  implanter.variables["AZIMUTH"] = -5;
  EXPECT_EQ("a[-5]b", Expand(implanter, "a{AZIMUTH:[%d]}b"));
  implanter.variables["X"] = 1.5;
  EXPECT_EQ("1.50|  1.5", Expand(implanter, "{X:%.2f}|{X:%5g}"));
}

TEST(StringVariableImplanter, SeveralParametersAndUnknownOnes) {
  StringVariableImplanter implanter;
  implanter.variables["AZIMUTH"] = 0;
  implanter.variables["CHANNEL"] = 7;
  const std::string path = "D{AZIMUTH:%03d}_ch{CHANNEL:%02d}.flt";
  EXPECT_EQ("D000_ch07.flt", Expand(implanter, path));

  StringVariableImplanter onlyAzimuth;
  onlyAzimuth.variables["AZIMUTH"] = 0;
  EXPECT_EQ("D000_ch{CHANNEL:%02d}.flt", Expand(onlyAzimuth, path));
  EXPECT_EQ("D000_ch.flt", Expand(onlyAzimuth, path, true));
  // Names are case-sensitive; an unknown parameter keeps its backslashes.
  EXPECT_EQ("{azimuth:%d}\\}", Expand(onlyAzimuth, "{azimuth:%d}\\}"));
  EXPECT_EQ("x{Q:\\%d}y0", Expand(onlyAzimuth, "x{Q:\\%d}y{AZIMUTH:%d}"));
}

TEST(StringVariableImplanter, LiteralBracesAndEscapes) {
  StringVariableImplanter implanter;
  implanter.variables["AZIMUTH"] = 1;
  EXPECT_EQ("", Expand(implanter, ""));
  EXPECT_EQ("D{AZIMUTH}.wav", Expand(implanter, "D{AZIMUTH}.wav"));
  EXPECT_EQ("D{AZIMUTH.wav", Expand(implanter, "D{AZIMUTH.wav"));
  // No parameter: the text stays as it is, backslash included.
  EXPECT_EQ("D\\{AZIMUTH:%d}", Expand(implanter, "D\\{AZIMUTH:%d}"));
  // Before a parameter the backslash is removed, after the last one kept.
  EXPECT_EQ("x_1", Expand(implanter, "x\\_{AZIMUTH:%d}"));
  EXPECT_EQ("\\{1}_\\x", Expand(implanter, "\\\\{{AZIMUTH:%d}}_\\x"));
  // A brace pair without colon before the parameter is literal text.
  EXPECT_EQ("{a}-1", Expand(implanter, "{a}-{AZIMUTH:%d}"));
  // An escaped closing brace belongs to the format.
  EXPECT_EQ("<1}>", Expand(implanter, "{AZIMUTH:<%d\\}>}"));
  // The name is everything up to the last colon.
  implanter.variables["A:B"] = 4;
  EXPECT_EQ("4", Expand(implanter, "{A:B:%d}"));
}

TEST(StringVariableImplanter, FormatErrorsPropagate) {
  StringVariableImplanter implanter;
  implanter.variables["AZIMUTH"] = 5;
  EXPECT_EQ("boost::too_many_args: format-string referred to fewer arguments than were passed",
            ErrorOf(implanter, "D{AZIMUTH:abc}"));
  EXPECT_EQ("boost::too_few_args: format-string referred to more arguments than were passed",
            ErrorOf(implanter, "D{AZIMUTH:%d_%d}"));
  EXPECT_EQ("boost::bad_format_string: format-string is ill-formed", ErrorOf(implanter, "D{AZIMUTH:%d%}"));
  // Unknown variables are never formatted, so their formats cannot fail.
  EXPECT_EQ("(no error)", ErrorOf(implanter, "D{OTHER:%d%}"));
}

// Widths, precisions and argument numbers come from the user's template; a
// huge one would overflow the format parser or the printing stream's stack.
TEST(StringVariableImplanter, UnusableFormatsAreRefused) {
  StringVariableImplanter implanter;
  implanter.variables["AZIMUTH"] = 5;
  for (const std::string format : {"%00444444444002d", "%.99999999f", "%|2000$d|", "%99999%", "%%%_88888888888x",
                                   "%=_9999d", "%|4|4|%|4288888888888d|"})
    EXPECT_EQ("path template format '" + format + "' has a width, precision or argument number above 1024",
              ErrorOf(implanter, "D{AZIMUTH:" + format + "}.wav"))
        << format;
  // Tabulation directives: a fill character of "%" made Boost.Format write
  // past its buffer.
  for (const std::string format : {"%s%T%%g", "%10t", "%|20T*|"})
    EXPECT_EQ("path template format '" + format + "' uses a tabulation directive (%t or %T)",
              ErrorOf(implanter, "D{AZIMUTH:" + format + "}.wav"))
        << format;
  // Numbers in the literal text around a directive, and the largest allowed
  // width, are fine.
  EXPECT_EQ("D2026_005.wav", Expand(implanter, "D{AZIMUTH:2026_%03d}.wav"));
  EXPECT_EQ(std::string(1023, ' ') + "5", Expand(implanter, "{AZIMUTH:%1024d}"));
}

TEST(StringVariableImplanter, Steps) {
  const StringVariableImplanter implanter;
  EXPECT_EQ(0u, *implanter.FindUnescaped("{a", '{', 0));
  EXPECT_EQ(3u, *implanter.FindUnescaped("\\{a{", '{', 0));
  // Only the one preceding character counts: two backslashes still escape.
  EXPECT_FALSE(implanter.FindUnescaped("\\\\{", '{', 0));
  EXPECT_FALSE(implanter.FindUnescaped("abc", '{', 0));
  EXPECT_FALSE(implanter.FindUnescaped("{", '{', 5));

  const auto param = implanter.FindParam("x{a}{N:%d}y", 0);
  ASSERT_TRUE(param);
  EXPECT_EQ(4u, param->begin);
  EXPECT_EQ(6u, param->colon);
  EXPECT_EQ(10u, param->end);
  EXPECT_FALSE(implanter.FindParam("x{N:%d}y", 2));
  EXPECT_FALSE(implanter.FindParam("a:{b}", 0));

  const auto parts = implanter.ParseParam("{N\\}:%\\d}", *implanter.FindParam("{N\\}:%\\d}", 0));
  EXPECT_EQ("N}", parts.first);
  EXPECT_EQ("%d", parts.second);

  EXPECT_EQ("a\\b{c", implanter.Unescape("a\\\\b\\{c\\"));
  EXPECT_EQ("", implanter.Unescape("\\"));
}
