// What the harnesses share: a check that turns a broken invariant into a crash, which
// libFuzzer reports with the input that caused it, and a valid-UTF-8 test.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "search/unicode.h"

namespace varek::fuzz {

inline void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "broken invariant: %s\n", what);
  std::abort();
}

// Decoding replaces every invalid sequence by U+FFFD, so only valid text survives the
// round trip unchanged.
inline bool isValidUtf8(std::string_view text) {
  return unicode::utf8(unicode::scalars(text)) == text;
}

}  // namespace varek::fuzz
