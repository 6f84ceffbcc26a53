#include "sources/calculator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numbers>
#include <string_view>
#include <utility>
#include <vector>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/numberformatter.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace varek::Calculator {
namespace {

// Nested parentheses, signs, exponents and function arguments each descend one level.
// Far deeper than anything typed by hand, and the recursion then still fits well within
// a 512 KB thread stack.
constexpr int kMaxDepth = 200;
// ICU measures text in 32-bit offsets; longer input cannot be a query anyway.
constexpr size_t kMaxQueryBytes = std::numeric_limits<int32_t>::max();
constexpr double kPercent = 100;
// Six fraction digits hide binary noise such as 0.1 + 0.2; tiny values keep twelve so
// that they do not collapse to 0.
constexpr int kFractionDigits = 6;
constexpr int kSmallFractionDigits = 12;
constexpr double kSmallMagnitude = 1e-4;
// Thousands separators only from five integer digits on, as German text writes "1234".
constexpr double kGroupingMagnitude = 10000;

using Function = double (*)(double);

struct NamedFunction {
  std::string_view name;
  Function apply;
};

// The gate in evaluate also lets a query through that starts with one of these names.
constexpr std::array<NamedFunction, 8> kFunctions{{
    {"sqrt", [](double x) { return std::sqrt(x); }},
    {"wurzel", [](double x) { return std::sqrt(x); }},
    {"abs", [](double x) { return std::fabs(x); }},
    {"sin", [](double x) { return std::sin(x); }},
    {"cos", [](double x) { return std::cos(x); }},
    {"tan", [](double x) { return std::tan(x); }},
    {"ln", [](double x) { return std::log(x); }},
    {"log", [](double x) { return std::log10(x); }},
}};

struct NamedConstant {
  std::string_view name;
  double value;
};

constexpr std::array<NamedConstant, 2> kConstants{{
    {"pi", std::numbers::pi},
    {"e", std::numbers::e},
}};

enum class Dimension { length, mass, temperature, volume, storage, duration, speed };

// value in the dimension's base unit = value × coefficient + offset.
struct Unit {
  std::string_view word;
  Dimension dimension;
  double coefficient;
  double offset = 0;
};

// Rounded coefficients, kept exactly: answers people know depend on them (a mile is
// 1609.34 m here, not 1609.344).
constexpr std::array<Unit, 37> kUnits{{
    {"km", Dimension::length, 1e3},
    {"m", Dimension::length, 1},
    {"cm", Dimension::length, 1e-2},
    {"mm", Dimension::length, 1e-3},
    {"mi", Dimension::length, 1609.34},
    {"ft", Dimension::length, 0.3048},
    {"in", Dimension::length, 0.0254},
    {"zoll", Dimension::length, 0.0254},
    {"yd", Dimension::length, 0.9144},
    {"kg", Dimension::mass, 1},
    {"g", Dimension::mass, 1e-3},
    {"mg", Dimension::mass, 1e-6},
    {"t", Dimension::mass, 1000},
    {"lb", Dimension::mass, 0.453592},
    {"lbs", Dimension::mass, 0.453592},
    {"oz", Dimension::mass, 0.0283495},
    {"k", Dimension::temperature, 1},
    {"c", Dimension::temperature, 1, 273.15},
    {"°c", Dimension::temperature, 1, 273.15},
    {"f", Dimension::temperature, 0.55555555555556, 255.37222222222427},
    {"°f", Dimension::temperature, 0.55555555555556, 255.37222222222427},
    {"l", Dimension::volume, 1},
    {"ml", Dimension::volume, 1e-3},
    {"gal", Dimension::volume, 3.78541},
    {"cup", Dimension::volume, 0.24},
    {"kb", Dimension::storage, 8e3},
    {"mb", Dimension::storage, 8e6},
    {"gb", Dimension::storage, 8e9},
    {"tb", Dimension::storage, 8e12},
    {"s", Dimension::duration, 1},
    {"min", Dimension::duration, 60},
    {"h", Dimension::duration, 3600},
    {"km/h", Dimension::speed, 0.277778},
    {"kmh", Dimension::speed, 0.277778},
    {"mph", Dimension::speed, 0.44704},
    {"m/s", Dimension::speed, 1},
    {"kn", Dimension::speed, 0.514444},
}};

const Unit* findUnit(std::string_view word) {
  const auto found = std::ranges::find(kUnits, word, &Unit::word);
  return found == kUnits.end() ? nullptr : &*found;
}

icu::UnicodeString fromUtf8(std::string_view text) {
  // Invalid bytes become U+FFFD, which nothing below accepts.
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string result;
  return text.toUTF8String(result);
}

// Strict decimal text: ASCII digits with at most one point, optionally negative; "5." and
// ".5" count. Digits of other scripts do not: "٣" is no number to a decimal reader.
std::optional<double> decimalValue(const icu::UnicodeString& text) {
  std::string ascii;
  bool negative = false;
  bool sawPoint = false;
  bool sawDigit = false;
  bool nonZeroInteger = false;
  for (int32_t index = 0; index < text.length(); index = text.moveIndex32(index, 1)) {
    const UChar32 character = text.char32At(index);
    if (character == u'-' && index == 0) {
      negative = true;
      ascii += '-';
    } else if (character == u'.' && !sawPoint) {
      sawPoint = true;
      ascii += '.';
    } else if (character >= u'0' && character <= u'9') {
      sawDigit = true;
      nonZeroInteger = nonZeroInteger || (!sawPoint && character != u'0');
      ascii += static_cast<char>(character);
    } else {
      return std::nullopt;
    }
  }
  if (!sawDigit) return std::nullopt;
  double value = 0;
  const char* end = ascii.data() + ascii.size();
  const auto [stop, error] = std::from_chars(ascii.data(), end, value, std::chars_format::fixed);
  if (error == std::errc::result_out_of_range) {
    // Too many digits to represent: huge numbers become infinite, tiny ones zero, as any
    // decimal reader does.
    value = nonZeroInteger ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
  }
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::unique_ptr<icu::BreakIterator> characterBreaks() {
  // A prototype to clone: creating an iterator from locale data costs far more.
  static const std::unique_ptr<icu::BreakIterator> prototype = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    return U_SUCCESS(status) ? std::move(iterator) : nullptr;
  }();
  return std::unique_ptr<icu::BreakIterator>(prototype ? prototype->clone() : nullptr);
}

// Recursive descent over user-perceived characters. Every rule returns nothing on
// failure, and the caller gives up at once.
class Parser {
 public:
  explicit Parser(const icu::UnicodeString& query) {
    icu::UnicodeString folded(query);
    folded.toLower(icu::Locale::getRoot());
    folded.findAndReplace(u"×", u"*").findAndReplace(u"÷", u"/");
    folded.findAndReplace(u"π", u"pi").findAndReplace(u",", u".");
    // Spaces may sit anywhere, also inside numbers: "1 000 + 1".
    for (int32_t index = 0; index < folded.length(); index = folded.moveIndex32(index, 1)) {
      const UChar32 character = folded.char32At(index);
      if (!u_isUWhiteSpace(character)) text_.append(character);
    }
    const std::unique_ptr<icu::BreakIterator> breaks = characterBreaks();
    if (!breaks) {
      // Without character boundaries no character can be read, so every parse fails.
      boundaries_.push_back(0);
      return;
    }
    breaks->setText(text_);
    for (int32_t boundary = breaks->first(); boundary != icu::BreakIterator::DONE;
         boundary = breaks->next()) {
      boundaries_.push_back(boundary);
    }
  }

  bool atEnd() const { return position_ + 1 >= boundaries_.size(); }

  std::optional<double> parseExpression() {
    std::optional<double> value = parseTerm();
    while (value) {
      if (take(u'+')) {
        const std::optional<double> right = parseTerm();
        if (!right) return std::nullopt;
        *value += *right;
      } else if (take(u'-')) {
        const std::optional<double> right = parseTerm();
        if (!right) return std::nullopt;
        *value -= *right;
      } else {
        break;
      }
    }
    return value;
  }

 private:
  std::optional<double> parseTerm() {
    std::optional<double> value = parsePower();
    while (value) {
      if (take(u'*')) {
        const std::optional<double> right = parsePower();
        if (!right) return std::nullopt;
        *value *= *right;
      } else if (take(u'/')) {
        const std::optional<double> right = parsePower();
        if (!right) return std::nullopt;
        *value /= *right;
      } else if (take(u'%')) {
        // "50%" and "200+10%" mean percent; "10%3" is the remainder.
        if (atEnd() || next(u'+') || next(u'-') || next(u')')) {
          *value /= kPercent;
        } else {
          const std::optional<double> right = parsePower();
          if (!right) return std::nullopt;
          *value = std::fmod(*value, *right);
        }
      } else {
        break;
      }
    }
    return value;
  }

  // The base is a unary, so "-2^2" is 4; the exponent recurses, so "2^3^2" is 2^9.
  std::optional<double> parsePower() {
    const std::optional<double> base = parseUnary();
    if (!base || !take(u'^')) return base;
    const std::optional<double> exponent = descend(&Parser::parsePower);
    if (!exponent) return std::nullopt;
    return std::pow(*base, *exponent);
  }

  std::optional<double> parseUnary() {
    if (take(u'-')) {
      const std::optional<double> operand = descend(&Parser::parseUnary);
      if (!operand) return std::nullopt;
      return -*operand;
    }
    if (take(u'+')) return descend(&Parser::parseUnary);
    return parseAtom();
  }

  std::optional<double> parseAtom() {
    if (take(u'(')) {
      const std::optional<double> inner = descend(&Parser::parseExpression);
      if (!inner || !take(u')')) return std::nullopt;
      return inner;
    }
    const size_t start = position_;
    position_ = runEnd([](UChar32 character) { return u_isUAlphabetic(character) != 0; });
    if (position_ == start) return readNumber();
    const Function function = functionNamed(start);
    if (!function) return constantNamed(start);
    const std::optional<double> argument = descend(&Parser::parseAtom);
    if (!argument) return std::nullopt;
    return function(*argument);
  }

  // These readers stay out of parseAtom so that their temporaries do not weigh on every
  // nesting level of the recursion.
  Function functionNamed(size_t start) const {
    const std::string word = toUtf8(characters(start, position_));
    const auto found = std::ranges::find(kFunctions, word, &NamedFunction::name);
    return found == kFunctions.end() ? nullptr : found->apply;
  }

  std::optional<double> constantNamed(size_t start) const {
    const std::string word = toUtf8(characters(start, position_));
    const auto found = std::ranges::find(kConstants, word, &NamedConstant::name);
    if (found == kConstants.end()) return std::nullopt;
    return found->value;
  }

  std::optional<double> readNumber() {
    const size_t start = position_;
    position_ = runEnd([](UChar32 character) { return character == u'.' || u_isdigit(character); });
    return decimalValue(characters(start, position_));
  }

  // Runs a rule one nesting level deeper, or fails once nesting gets out of hand.
  std::optional<double> descend(std::optional<double> (Parser::*rule)()) {
    if (depth_ >= kMaxDepth) return std::nullopt;
    ++depth_;
    const std::optional<double> value = (this->*rule)();
    --depth_;
    return value;
  }

  icu::UnicodeString characters(size_t from, size_t to) const {
    return icu::UnicodeString(text_, boundaries_[from], boundaries_[to] - boundaries_[from]);
  }

  // True when the next character is exactly this symbol, not the symbol plus marks.
  bool next(char16_t symbol) const {
    if (atEnd()) return false;
    const int32_t start = boundaries_[position_];
    return boundaries_[position_ + 1] - start == 1 && text_.charAt(start) == symbol;
  }

  bool take(char16_t symbol) {
    if (!next(symbol)) return false;
    ++position_;
    return true;
  }

  // Characters are classified by their first code point, so a letter with an accent
  // still counts as a letter.
  template <typename Predicate>
  size_t runEnd(Predicate accepts) const {
    size_t end = position_;
    while (end + 1 < boundaries_.size() && accepts(text_.char32At(boundaries_[end]))) ++end;
    return end;
  }

  icu::UnicodeString text_;
  // Start offset of every character, then the end of the text.
  std::vector<int32_t> boundaries_;
  size_t position_ = 0;
  int depth_ = 0;
};

icu::UnicodeString trimmed(const icu::UnicodeString& text) {
  int32_t start = 0;
  int32_t end = text.length();
  while (start < end && u_isUWhiteSpace(text.char32At(start))) start = text.moveIndex32(start, 1);
  while (end > start && u_isUWhiteSpace(text.char32At(end - 1))) end = text.moveIndex32(end, -1);
  return icu::UnicodeString(text, start, end - start);
}

// Only text that looks like arithmetic is parsed, so that numbers and words typed as a
// search ("42", "pi", "cosmos") do not answer with a calculation.
bool looksLikeArithmetic(const icu::UnicodeString& text) {
  for (const char16_t symbol : std::u16string_view(u"+-*/^%()×÷")) {
    if (text.indexOf(symbol) >= 0) return true;
  }
  const std::string utf8 = toUtf8(text);
  return std::ranges::any_of(kFunctions, [&utf8](const NamedFunction& function) {
    return utf8.starts_with(function.name);
  });
}

const icu::RegexPattern* conversionPattern() {
  static const std::unique_ptr<const icu::RegexPattern> pattern = [] {
    UErrorCode status = U_ZERO_ERROR;
    UParseError error;
    std::unique_ptr<const icu::RegexPattern> compiled(icu::RegexPattern::compile(
        u"^(-?[\\d.,]+)\\s*([a-z°/]+)\\s+(?:in|to|nach|zu|=)\\s+([a-z°/]+)$", 0, error, status));
    return U_SUCCESS(status) ? std::move(compiled) : nullptr;
  }();
  return pattern.get();
}

icu::number::LocalizedNumberFormatter germanFormatter(int maxFraction,
                                                      UNumberGroupingStrategy grouping) {
  return icu::number::NumberFormatter::withLocale(icu::Locale("de_DE"))
      .precision(icu::number::Precision::minMaxFraction(0, maxFraction))
      .roundingMode(UNUM_ROUND_HALFEVEN)
      .grouping(grouping);
}

const icu::number::LocalizedNumberFormatter& formatterFor(double value) {
  static const icu::number::LocalizedNumberFormatter plain =
      germanFormatter(kFractionDigits, UNUM_GROUPING_OFF);
  static const icu::number::LocalizedNumberFormatter grouped =
      germanFormatter(kFractionDigits, UNUM_GROUPING_AUTO);
  static const icu::number::LocalizedNumberFormatter small =
      germanFormatter(kSmallFractionDigits, UNUM_GROUPING_OFF);
  const double magnitude = std::fabs(value);
  if (value != 0 && magnitude < kSmallMagnitude) return small;
  return magnitude >= kGroupingMagnitude ? grouped : plain;
}

}  // namespace

std::optional<std::string> evaluate(std::string_view query) {
  if (query.size() > kMaxQueryBytes) return std::nullopt;
  const icu::UnicodeString text = trimmed(fromUtf8(query));
  if (std::optional<std::string> conversion = convertUnits(toUtf8(text))) return conversion;
  if (!looksLikeArithmetic(text)) return std::nullopt;
  Parser parser(text);
  const std::optional<double> value = parser.parseExpression();
  if (!value || !parser.atEnd() || !std::isfinite(*value)) return std::nullopt;
  return format(*value);
}

std::optional<std::string> convertUnits(std::string_view text) {
  // A conversion begins with its number; other text never reaches the regular expression.
  UChar32 first = U_SENTINEL;
  if (!text.empty()) {
    std::int32_t offset = 0;
    U8_NEXT(text.data(), offset, static_cast<std::int32_t>(text.size()), first);
  }
  if (first != '-' && first != '.' && first != ',' && !(first >= 0 && u_isdigit(first))) {
    return std::nullopt;
  }
  const icu::RegexPattern* pattern = conversionPattern();
  if (!pattern || text.size() > kMaxQueryBytes) return std::nullopt;
  icu::UnicodeString folded = fromUtf8(text);
  folded.toLower(icu::Locale::getRoot());
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(folded, status));
  if (U_FAILURE(status) || !matcher->find(status) || U_FAILURE(status)) return std::nullopt;
  icu::UnicodeString number = matcher->group(1, status);
  const std::string sourceWord = toUtf8(matcher->group(2, status));
  const std::string targetWord = toUtf8(matcher->group(3, status));
  if (U_FAILURE(status)) return std::nullopt;
  const std::optional<double> value = decimalValue(number.findAndReplace(u",", u"."));
  const Unit* source = findUnit(sourceWord);
  const Unit* target = findUnit(targetWord);
  if (!value || !source || !target || source->dimension != target->dimension) {
    return std::nullopt;
  }
  const double base = *value * source->coefficient + source->offset;
  const double result = (base - target->offset) / target->coefficient;
  // A number too long to represent would otherwise show as "∞ m".
  if (!std::isfinite(result)) return std::nullopt;
  return format(result) + " " + targetWord;
}

std::string format(double value) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString text = formatterFor(value).formatDouble(value, status).toString(status);
  if (U_SUCCESS(status)) return toUtf8(text);
  std::array<char, std::numeric_limits<double>::max_digits10 + 16> buffer{};
  const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), written.ptr);
}

}  // namespace varek::Calculator
