// The calculator on arbitrary bytes typed into the search field, and the number format
// on the double that the first eight bytes spell.
#include <cstdint>
#include <cstring>

#include "sources/calculator.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using varek::fuzz::isValidUtf8;
using varek::fuzz::require;

// An answer is shown as it is, so it must be text and a number the user can read.
void checkAnswer(const std::optional<std::string>& answer) {
  if (!answer) return;
  require(!answer->empty() && isValidUtf8(*answer), "an answer is valid, non-empty UTF-8");
  require(answer->find("∞") == std::string::npos && answer->find("NaN") == std::string::npos,
          "an answer is a finite number");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  checkAnswer(varek::Calculator::evaluate(text));
  checkAnswer(varek::Calculator::convertUnits(text));
  double value;
  if (size >= sizeof value) {
    std::memcpy(&value, data, sizeof value);
    const std::string formatted = varek::Calculator::format(value);
    require(!formatted.empty() && isValidUtf8(formatted), "every double formats as text");
  }
  return 0;
}
