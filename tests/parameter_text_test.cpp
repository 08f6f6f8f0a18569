#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dialog/parameter_text.h"

TEST(ParameterText, FormatsWithUpToFiveDecimals) {
  const struct {
    double value;
    const char* text;
  } cases[] = {{1, "1.0"},          {0, "0.0"},         {100, "100.0"},        {2.5, "2.5"},
               {-0.25, "-0.25"},    {1.234567, "1.23457"}, {0.999999, "1.0"}, {0.000005, "0.00001"},
               {0.0000049, "0.0"},  {-0.000001, "-0.0"}, {-0.0, "0.0"},       {1.37, "1.37"},
               {0.00392156862745098, "0.00392"},          {1000, "1000.0"},   {-100, "-100.0"}};
  for (const auto& c : cases) EXPECT_EQ(FormatParameterValue(c.value), c.text) << c.value;
}

TEST(ParameterText, ReadsTypedNumbersLikeTheDialogDoes) {
  const double d = 7.25;  // the row's default
  const struct {
    const char* text;
    double value;
  } cases[] = {{"", d},          {"abc", d},          {"1a", d},           {" 12 ", 12},
               {"1 2", d},       {"1,5", 1.5},        {"1.05", 1.05},      {".5", 0.5},
               {"5.", 5},        {"-.5", -0.5},       {"--5", 5},          {"1-2", -12},
               {"1.2.3", 0.3},   {"12345678901", 2147483647}, {"1.1234567891", 1.123456789},
               {"+5", d},        {"   ", d},          {"-", d},            {"0", 0},
               {"1.", 1},        {"1.5 ", 1.5},       {" 1 .5", 1.5}};
  for (const auto& c : cases) EXPECT_EQ(ParseParameterText(c.text, d), c.value) << "'" << c.text << "'";
}

TEST(ParameterText, WrittenValuesReadBackRoundedToTheirDecimals) {
  for (double v = -21474.0; v < 21474.0; v += 17.0137) {
    const std::string text = FormatParameterValue(v);
    const double back = ParseParameterText(text, 1e9);
    EXPECT_NEAR(back, v, 5.1e-6) << text;
    EXPECT_EQ(FormatParameterValue(back), text);
  }
  for (double v : {0.1, 0.01, 1.5, 2.49999, 1e-5, 99.99999, 21474.83647}) {
    EXPECT_NEAR(ParseParameterText(FormatParameterValue(v), 0), v, 5.1e-6) << v;
    EXPECT_NEAR(ParseParameterText(FormatParameterValue(-v), 0), -v, 5.1e-6) << v;
  }
}

TEST(ParameterText, ValuesBeyondTheThirtyTwoBitRangeStayReadable) {
  EXPECT_EQ(FormatParameterValue(3e9), "3000000000.0");
  EXPECT_EQ(FormatParameterValue(-21474.83648), "-21474.83648");
  EXPECT_EQ(FormatParameterValue(123456789.125), "123456789.125");
  EXPECT_EQ(FormatParameterValue(1e300).substr(0, 4), "1000");
  EXPECT_LE(FormatParameterValue(-1e300).size(), 310u);
  EXPECT_EQ(FormatParameterValue(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(FormatParameterValue(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(ParseParameterText("nan", 3.0), 3.0);
}
