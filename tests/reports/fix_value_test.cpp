#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include "reports/track.hpp"

namespace cuserver {
namespace {

// A number held as the database returned it must read exactly as its text
// would: the same text, leading number, leading integer and form.
void ExpectReadsAsItsText(const FixValue& held, const std::string& text) {
  FixValue fromText;
  fromText = text;
  EXPECT_EQ(held.Text(), text);
  if (std::isnan(fromText.Number())) {
    EXPECT_TRUE(std::isnan(held.Number())) << text;
  } else {
    EXPECT_EQ(held.Number(), fromText.Number()) << text;
    EXPECT_EQ(std::signbit(held.Number()), std::signbit(fromText.Number())) << text;
  }
  EXPECT_EQ(held.IntegerPart(), fromText.IntegerPart()) << text;
  EXPECT_EQ(held.IsPlainDecimal(), fromText.IsPlainDecimal()) << text;
}

TEST(FixValue, NumbersReadAsTheirShortestText) {
  const struct {
    double value;
    const char* text;
  } reals[] = {
      {0.0, "0"},         {-0.0, "-0"},      {3.704, "3.704"},           {35.5, "35.5"},
      {-35.5, "-35.5"},   {0.5, "0.5"},      {0.0005, "0.0005"},         {1e-05, "1e-05"},
      {999999999.5, "999999999.5"},          {1e9, "1000000000"},        {3e9, "3000000000"},
      {1e16, "1e+16"},    {1e300, "1e+300"}, {1e-310, "1e-310"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {116.39745678, "116.39745678"},
  };
  for (const auto& real : reals) {
    FixValue held;
    held.SetReal(real.value);
    ExpectReadsAsItsText(held, real.text);
  }
  for (const long long integer : {0LL, 80LL, -7LL, 3000000000LL, LLONG_MIN}) {
    FixValue held;
    held.SetInteger(integer);
    ExpectReadsAsItsText(held, std::to_string(integer));
  }
  FixValue null;
  null.SetNull();
  ExpectReadsAsItsText(null, "");
}

}  // namespace
}  // namespace cuserver
