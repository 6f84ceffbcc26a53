// Case-, diacritic- and width-insensitive folding without a locale. The matcher, the
// learning store and the clipboard filter compare text only in this form, so "Café",
// "CAFE" and "ｃａｆｅ" are the same word to all of them.
#pragma once

#include <string>
#include <string_view>

namespace varek {

// Folds UTF-8 text. Invalid UTF-8 is read as U+FFFD, so any input yields valid UTF-8.
std::string fold(std::string_view text);

}  // namespace varek
