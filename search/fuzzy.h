// The one matcher of every searchable source. Names are prepared once into Targets, the
// typed text once per search into a Query; scores rate them on one absolute scale so
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
//
// Every keystroke rates every name of the index, so the names live in a few shared arrays
// rather than one allocation each, and each carries a 64-bit mask of the scalars it
// holds: every rule matches the query's scalars inside the name's, so a name whose mask
// lacks a bit of the query's cannot match and is turned away by one AND.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varek::Fuzzy {

struct Query {
  explicit Query(std::string_view text);

  std::vector<char32_t> scalars;  // the scalars of compact
  std::string compact;            // folded, without whitespace
  std::uint64_t mask = 0;         // the scalars it holds
  bool ascii = true;              // every scalar is ASCII, so one byte of compact each
};

// Prepared names of many items; an item (an application with a local and an original
// name) may have several and matches with the best of them.
class Targets {
 public:
  // Adds a name of item. Items are added in ascending order, an item's names one after
  // another.
  void add(std::uint32_t item, std::string_view name);

  std::size_t size() const { return masks_.size(); }
  std::uint32_t item(std::size_t index) const { return items_[index]; }

  // The score of the name at index, or nothing when the query does not match it.
  std::optional<double> score(const Query& query, std::size_t index) const {
    const double rated = masked(query, index);
    if (rated == kMiss) return std::nullopt;
    return rated;
  }

  // Calls found(item, score) for every item that matches, with its best score, in the
  // order of the items.
  template <typename Found>
  void forEachMatch(const Query& query, Found&& found) const {
    const std::size_t count = masks_.size();
    for (std::size_t index = 0; index < count;) {
      const std::uint32_t current = items_[index];
      double best = kMiss;
      do {
        best = std::max(best, masked(query, index));
      } while (++index < count && items_[index] == current);
      if (best != kMiss) found(current, best);
    }
  }

  // What a name was prepared into.
  std::string_view compact(std::size_t index) const;     // folded, without whitespace
  int compactCount(std::size_t index) const;             // scalars in compact
  std::string_view initials(std::size_t index) const;    // folded scalars at the word starts
  std::vector<int> wordStarts(std::size_t index) const;  // scalar indices, ascending
  std::u32string full(std::size_t index) const;  // folded scalars, blanks and punctuation kept

 private:
  // Where a name's parts lie in the shared arrays. Only the mask and the item are read for
  // every name on every keystroke; this is read for the names that pass the mask.
  struct Layout {
    std::uint32_t text;  // in bytes_: compact, then initials, then full when it is ASCII
    std::uint32_t compactBytes;
    std::uint32_t initialsBytes;
    std::uint32_t compactCount;
    std::uint32_t full;  // in bytes_ when fullAscii, else in scalars_
    std::uint32_t fullCount;
    std::uint32_t wordStarts;  // in wordStarts_
    std::uint32_t wordStartCount;
    // In starts_: a flag per byte of compact (and its end) telling whether a character
    // begins there; kEvery when each byte is a character of its own.
    std::uint32_t compactStarts;
    // The same per scalar of full, when some character spans several scalars.
    std::uint32_t fullStarts;
    bool fullAscii;
  };
  static constexpr std::uint32_t kEvery = UINT32_MAX;
  // Below every score: the scan keeps plain doubles, which a loop over thousands of names
  // moves through registers, where an optional would go through memory.
  static constexpr double kMiss = -std::numeric_limits<double>::infinity();

  double masked(const Query& query, std::size_t index) const {
    if ((masks_[index] & query.mask) != query.mask) return kMiss;
    return rate(query, layouts_[index]);
  }
  double rate(const Query& query, const Layout& layout) const;
  std::uint32_t append(std::string_view bytes);

  std::vector<std::uint64_t> masks_;
  std::vector<std::uint32_t> items_;
  std::vector<Layout> layouts_;
  std::string bytes_;
  std::u32string scalars_;
  std::vector<std::uint32_t> wordStarts_;
  std::vector<std::uint8_t> starts_;
};

// One name on its own: a command, a window title, a file name.
class Target {
 public:
  explicit Target(std::string_view name) { prepared_.add(0, name); }

  std::string_view compact() const { return prepared_.compact(0); }
  int compactCount() const { return prepared_.compactCount(0); }
  std::string_view initials() const { return prepared_.initials(0); }
  std::vector<int> wordStarts() const { return prepared_.wordStarts(0); }
  std::u32string full() const { return prepared_.full(0); }

 private:
  friend std::optional<double> score(const Query& query, const Target& target);
  Targets prepared_;
};

// The match score, or nothing when the query does not match the target.
inline std::optional<double> score(const Query& query, const Target& target) {
  return target.prepared_.score(query, 0);
}

}  // namespace varek::Fuzzy
