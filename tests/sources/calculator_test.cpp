#include "sources/calculator.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace varek::Calculator {
namespace {

using Rows = std::vector<std::pair<std::string, std::optional<std::string>>>;
constexpr std::nullopt_t kNone = std::nullopt;

std::string repeated(const std::string& piece, int count) {
  std::string result;
  for (int index = 0; index < count; ++index) result += piece;
  return result;
}

TEST(CalculatorEvaluate, EvaluatesArithmeticAndNothingElse) {
  // clang-format off
  const Rows rows = {
      // Precedence, associativity (power to the right), and a sign binding tighter than power.
      // "%" divides by 100 at the end or before "+", "-" or ")", else it is the remainder.
      {"2+3*4", "14"}, {"(2+3)*4", "20"}, {"10-4-3", "3"}, {"64/4/2", "8"}, {"2^3^2", "512"},
      {"-2^2", "4"}, {"2^-1", "0,5"}, {"2++3", "5"}, {"50%", "0,5"}, {"200+10%", "200,1"},
      {"(50%)*2", "1"}, {"2*50%", "1"}, {"10%3", "1"}, {"-7%3", "-1"}, {"7%-3", "-2,93"},
      {"5%0", kNone},
      // A function applies to the next atom; only lower-case names pass the gate by themselves.
      {"sqrt(16)", "4"}, {"wurzel 16", "4"}, {"Sqrt(16)", "4"}, {"Sqrt16", kNone},
      {"sqrt-4", kNone}, {"sqrt(-1)", kNone}, {"abs(-3)", "3"}, {"log(1000)", "3"},
      {"ln(e)", "1"}, {"cos(pi)", "-1"}, {"pi*1", "3,141593"}, {"π*2", "6,283185"},
      {"sinpi", kNone},
      // What people type: thousands blanks, other signs, a decimal comma, outer blanks.
      {"1234*1", "1234"}, {"1 000 + 1", "1001"}, {"1\u00a0000+1", "1001"},
      {"\u3000 2+2 \u00a0", "4"}, {"6×7", "42"}, {"8÷2", "4"}, {"1,5*2", "3"}, {"5.+1", "6"},
      {".5+1", "1,5"}, {" 5 km in m\t", "5000 m"},
      // Only strict decimal text of ASCII digits is a number: no digits of other scripts.
      {"42", kNone}, {"pi", kNone}, {"(2+3", kNone}, {"2(3)", kNone}, {"2+3$", kNone},
      {"1/0", kNone}, {"10^400", kNone}, {".+1", kNone}, {"1.2.3+1", kNone}, {"2+\xc3", kNone},
      {"5km=m", kNone}, {"٣+1", kNone}, {"１+1", kNone},
      // Deep nesting fails instead of overflowing the stack; numbers beyond a double are
      // infinite, below one zero.
      {repeated("(", 100) + "1" + repeated(")", 100) + "*2", "2"},
      {repeated("(", 10000) + "1", kNone}, {repeated("-", 100000) + "1", kNone},
      {repeated("(", 100000) + "1" + repeated(")", 100000), kNone},
      {repeated("1^", 50000) + "1", kNone}, {repeated("1+", 50000) + "1", "50.001"},
      {repeated("9", 100000) + "+1", kNone}, {"0," + repeated("0", 400) + "1+1", "1"}};
  // clang-format on
  for (const auto& [input, expected] : rows) EXPECT_EQ(evaluate(input), expected) << input;
}

// Within one dimension only; a mile is 1609.34 m, 1 gb is 10^6 kb.
TEST(CalculatorConvertUnits, ConvertsWithinOneDimension) {
  // clang-format off
  const Rows rows = {{"5 km in m", "5000 m"}, {"5km = m", "5000 m"}, {"10 km in m", "10.000 m"},
      {"5 km in mi", "3,106864 mi"}, {"100 °c in °f", "212 °f"},
      {"32 °f in °c", "0,000000000002 °c"}, {"-40 c to f", "-40 f"},
      {"36 km/h in m/s", "10,000008 m/s"}, {"1 cup in ml", "240 ml"},
      {"1 gb nach kb", "1.000.000 kb"}, {"1,5 H ZU MIN", "90 min"}, {"5 kg in m", kNone},
      {"5 km in", kNone}, {"5 parsec in m", kNone}, {"1.000,5 km in m", kNone},
      {"٥ km in m", kNone}, {repeated("9", 400) + " tb in kb", kNone}};
  // clang-format on
  for (const auto& [input, expected] : rows) EXPECT_EQ(convertUnits(input), expected) << input;
}

TEST(CalculatorFormat, WritesGermanNumbers) {
  // clang-format off
  const std::pair<double, const char*> rows[] = {{0.1 + 0.2, "0,3"}, {1e-5, "0,00001"},
      {-2.93, "-2,93"}, {1234, "1234"}, {12345, "12.345"}, {123456789.5, "123.456.789,5"},
      {2.0000005, "2"}, {9999.9999996, "10000"}, {1e20, "100.000.000.000.000.000.000"},
      {-0.0, "-0"}, {-1e-13, "-0"}};
  // clang-format on
  for (const auto& [value, expected] : rows) EXPECT_EQ(format(value), expected) << value;
}

}  // namespace
}  // namespace varek::Calculator
