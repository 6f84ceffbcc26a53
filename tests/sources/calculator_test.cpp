#include "sources/calculator.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace varek::Calculator {
namespace {

struct Row {
  const char* shows;
  std::string input;
  std::optional<std::string> expected;
};

void expectEvaluated(const std::vector<Row>& rows) {
  for (const Row& row : rows) EXPECT_EQ(evaluate(row.input), row.expected) << row.shows;
}

void expectConverted(const std::vector<Row>& rows) {
  for (const Row& row : rows) EXPECT_EQ(convertUnits(row.input), row.expected) << row.shows;
}

std::string repeated(const std::string& piece, int count) {
  std::string result;
  for (int index = 0; index < count; ++index) result += piece;
  return result;
}

TEST(CalculatorEvaluate, OperatorsBindByPrecedence) {
  expectEvaluated({
      {"product before sum", "2+3*4", "14"},
      {"parentheses first", "(2+3)*4", "20"},
      {"difference is left-associative", "10-4-3", "3"},
      {"quotient is left-associative", "64/4/2", "8"},
      {"power is right-associative", "2^3^2", "512"},
      {"sign binds tighter than power", "-2^2", "4"},
      {"signed exponent", "2^-1", "0,5"},
      {"repeated sign is unary", "2++3", "5"},
  });
}

TEST(CalculatorEvaluate, PercentIsSignOrRemainder) {
  expectEvaluated({
      {"percent at the end", "50%", "0,5"},
      {"percent before plus", "200+10%", "200,1"},
      {"percent before closing parenthesis", "(50%)*2", "1"},
      {"percent of the product so far", "2*50%", "1"},
      {"remainder between numbers", "10%3", "1"},
      {"remainder keeps the dividend's sign", "-7%3", "-1"},
      {"percent before minus", "7%-3", "-2,93"},
      {"remainder by zero", "5%0", std::nullopt},
  });
}

TEST(CalculatorEvaluate, FunctionsApplyToTheNextAtom) {
  expectEvaluated({
      {"parenthesised argument", "sqrt(16)", "4"},
      {"German name, spaced argument", "wurzel 16", "4"},
      {"capital passes the gate through the parenthesis", "Sqrt(16)", "4"},
      {"capital without operator fails the gate", "Sqrt16", std::nullopt},
      {"sign is not an atom", "sqrt-4", std::nullopt},
      {"root of a negative", "sqrt(-1)", std::nullopt},
      {"absolute value", "abs(-3)", "3"},
      {"logarithm base ten", "log(1000)", "3"},
      {"natural logarithm of e", "ln(e)", "1"},
      {"cosine in radians", "cos(pi)", "-1"},
      {"pi", "pi*1", "3,141593"},
      {"pi sign", "π*2", "6,283185"},
      {"letters run together", "sinpi", std::nullopt},
  });
}

TEST(CalculatorEvaluate, AcceptsTypedVariants) {
  expectEvaluated({
      {"no grouping below 10 000", "1234*1", "1234"},
      {"spaces inside numbers", "1 000 + 1", "1001"},
      {"no-break space inside a number", "1\u00a0000+1", "1001"},
      {"surrounding Unicode spaces", "\u3000 2+2 \u00a0", "4"},
      {"multiplication sign", "6×7", "42"},
      {"division sign", "8÷2", "4"},
      {"decimal comma", "1,5*2", "3"},
      {"point without fraction", "5.+1", "6"},
      {"point without integer", ".5+1", "1,5"},
      {"Arabic-Indic digits", "٣+٤", "7"},
      {"conversion among surrounding spaces", " 5 km in m\t", "5000 m"},
  });
}

TEST(CalculatorEvaluate, RejectsWhatIsNotArithmetic) {
  expectEvaluated({
      {"bare number", "42", std::nullopt},
      {"bare constant", "pi", std::nullopt},
      {"unclosed parenthesis", "(2+3", std::nullopt},
      {"no implicit multiplication", "2(3)", std::nullopt},
      {"stray character", "2+3$", std::nullopt},
      {"division by zero", "1/0", std::nullopt},
      {"overflowing power", "10^400", std::nullopt},
      {"lone point", ".+1", std::nullopt},
      {"second point", "1.2.3+1", std::nullopt},
      {"invalid UTF-8", "2+\xc3", std::nullopt},
      {"equals sign without spaces", "5km=m", std::nullopt},
  });
}

TEST(CalculatorEvaluate, SurvivesHostileInput) {
  expectEvaluated({
      {"modest nesting", repeated("(", 100) + "1" + repeated(")", 100) + "*2", "2"},
      {"unclosed deep nesting", repeated("(", 10000) + "1", std::nullopt},
      {"closed deep nesting", repeated("(", 100000) + "1" + repeated(")", 100000), std::nullopt},
      {"long run of signs", repeated("-", 100000) + "1", std::nullopt},
      {"long tower of powers", repeated("1^", 50000) + "1", std::nullopt},
      {"long flat sum", repeated("1+", 50000) + "1", "50.001"},
      {"number beyond double", repeated("9", 100000) + "+1", std::nullopt},
      {"number below double", "0," + repeated("0", 400) + "1+1", "1"},
  });
}

TEST(CalculatorConvertUnits, ConvertsWithinOneDimension) {
  expectConverted({
      {"length", "5 km in m", "5000 m"},
      {"equals sign", "5km = m", "5000 m"},
      {"grouped result", "10 km in m", "10.000 m"},
      {"mile of 1609.34 m", "5 km in mi", "3,106864 mi"},
      {"Celsius to Fahrenheit", "100 °c in °f", "212 °f"},
      {"Fahrenheit to Celsius", "32 °f in °c", "0,000000000002 °c"},
      {"negative temperature", "-40 c to f", "-40 f"},
      {"speed", "36 km/h in m/s", "10,000008 m/s"},
      {"volume", "1 cup in ml", "240 ml"},
      {"storage", "1 gb nach kb", "1.000.000 kb"},
      {"decimal comma, upper case", "1,5 H ZU MIN", "90 min"},
  });
}

TEST(CalculatorConvertUnits, RejectsMalformedOrMixed) {
  expectConverted({
      {"different dimensions", "5 kg in m", std::nullopt},
      {"missing target", "5 km in", std::nullopt},
      {"unknown unit", "5 parsec in m", std::nullopt},
      {"thousands point", "1.000,5 km in m", std::nullopt},
      {"result beyond double", repeated("9", 400) + " tb in kb", std::nullopt},
  });
}

TEST(CalculatorFormat, WritesGermanNumbers) {
  const std::pair<double, const char*> rows[] = {
      {0.1 + 0.2, "0,3"},
      {1e-5, "0,00001"},
      {-2.93, "-2,93"},
      {1234, "1234"},
      {12345, "12.345"},
      {123456789.5, "123.456.789,5"},
      {1e20, "100.000.000.000.000.000.000"},
      {2.0000005, "2"},
      {9999.9999996, "10000"},
      {-0.0, "-0"},
      {-1e-13, "-0"},
  };
  for (const auto& [value, expected] : rows) EXPECT_EQ(format(value), expected) << value;
}

}  // namespace
}  // namespace varek::Calculator
