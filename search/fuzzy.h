// The one matcher of every searchable source. A name is prepared once into a Target, the
// typed text once per search into a Query; score() rates them on one absolute scale so
// that results of different sources can be ranked together:
//
//   1000        the whole name, ignoring case, accents, width and blanks ("note pad")
//   900 − k     a prefix of the name, k scalars of it unmatched ("note" → "Note Pad": 897)
//   820 − k     a prefix of the initials, at least two letters ("np" → "Note Pad": 820)
//   760 − s     the start of a later word at scalar s ("pad" → "Note Pad": 755)
//   600 − c     anywhere else in the name, c characters in ("tep" → "Note Pad": 598)
//   ~300        a scattered subsequence, +12 per word start, +6 per adjacent pair,
//               −2 per skipped scalar (at most −16 per gap) ("ntp" → "Note Pad": 318)
//
// The empty query matches everything with 0; nothing else scores a miss.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varek::Fuzzy {

struct Target {
  explicit Target(std::string_view name);

  std::vector<char32_t> full;   // folded scalars, blanks and punctuation kept
  std::string compact;          // folded, without whitespace
  int compactCount = 0;         // scalars in compact
  std::string initials;         // folded scalars at the word starts
  std::vector<int> wordStarts;  // indices into full, ascending
  // wordStarts as a bitmap over full, for the constant-time test of the subsequence walk.
  std::vector<bool> wordStartSet;
  // Byte offsets of the characters of compact, kept only when some character is not a
  // single byte; the substring rule counts characters before a match with it.
  std::vector<std::size_t> compactBoundaries;
  // Whether a character of the name begins at each index of full (and its end), kept only
  // when some character spans several scalars.
  std::vector<bool> fullBoundaries;

  bool isWordStart(std::size_t index) const { return wordStartSet[index]; }
  // A prefix or substring counts only from and up to such boundaries: "か" must not match
  // the first half of "か" + U+3099 (が), nor "क" the first scalar of "कि".
  bool isCompactBoundary(std::size_t offset) const;
  bool isFullBoundary(std::size_t index) const {
    return fullBoundaries.empty() || fullBoundaries[index];
  }
};

struct Query {
  explicit Query(std::string_view text);

  std::vector<char32_t> scalars;  // the scalars of compact
  std::string compact;            // folded, without whitespace
};

// The match score, or nothing when the query does not match the target.
std::optional<double> score(const Query& query, const Target& target);

}  // namespace varek::Fuzzy
