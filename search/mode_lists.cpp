// The lists of the single-source modes (clipboard, windows), the favourites shown for an
// empty query, and the merging of file rows that arrive after the rest.
#include <unicode/calendar.h>
#include <unicode/reldatefmt.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "search/fold.h"
#include "search/search_model.h"
#include "search/unicode.h"

namespace varek {
namespace {

constexpr std::size_t kTitleCharacters = 200;
constexpr std::size_t kRecentCount = 8;
// The panel must be hidden and the previous application focused before the keystroke.
constexpr double kPasteDelaySeconds = 0.12;
// Seconds between the Unix epoch and 2001-01-01, the origin of stored times.
constexpr double kUnixOffset = 978'307'200;

// "vor 5 Min.", "vor 3 Tagen": the largest calendar unit in which the two times differ.
// The formatter and calendar are costly to build and never change, so they are made once;
// each use works on its own copy of the calendar.
class RelativeDates {
 public:
  explicit RelativeDates(double now) : now_(now) {}

  std::string phrase(double date) const {
    const Shared& shared = Shared::instance();
    if (!shared.formatter || !shared.calendar) return "";
    struct Unit {
      UCalendarDateFields field;
      URelativeDateTimeUnit unit;
    };
    static constexpr Unit kUnits[] = {
        {UCAL_YEAR, UDAT_REL_UNIT_YEAR},         {UCAL_MONTH, UDAT_REL_UNIT_MONTH},
        {UCAL_WEEK_OF_YEAR, UDAT_REL_UNIT_WEEK}, {UCAL_DATE, UDAT_REL_UNIT_DAY},
        {UCAL_HOUR, UDAT_REL_UNIT_HOUR},         {UCAL_MINUTE, UDAT_REL_UNIT_MINUTE},
        {UCAL_SECOND, UDAT_REL_UNIT_SECOND},
    };
    std::unique_ptr<icu::Calendar> calendar(shared.calendar->clone());
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime((now_ + kUnixOffset) * 1000, status);
    const UDate to = (date + kUnixOffset) * 1000;
    double offset = 0;
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    for (const Unit& candidate : kUnits) {
      // fieldDifference moves the calendar on by the whole units it counted, so the next,
      // smaller unit measures only the remainder.
      const int32_t difference = calendar->fieldDifference(to, candidate.field, status);
      if (U_FAILURE(status)) return "";
      if (difference != 0) {
        offset = difference;
        unit = candidate.unit;
        break;
      }
    }
    icu::UnicodeString text;
    shared.formatter->formatNumeric(offset, unit, text, status);
    if (U_FAILURE(status)) return "";
    std::string phrase;
    text.toUTF8String(phrase);
    return phrase;
  }

 private:
  struct Shared {
    std::unique_ptr<icu::RelativeDateTimeFormatter> formatter;
    std::unique_ptr<icu::Calendar> calendar;

    static const Shared& instance() {
      static const Shared shared = [] {
        Shared made;
        UErrorCode status = U_ZERO_ERROR;
        made.formatter = std::make_unique<icu::RelativeDateTimeFormatter>(
            icu::Locale("de", "DE"), nullptr, UDAT_STYLE_SHORT, UDISPCTX_CAPITALIZATION_NONE,
            status);
        if (U_FAILURE(status)) made.formatter.reset();
        status = U_ZERO_ERROR;
        made.calendar.reset(icu::Calendar::createInstance(icu::Locale("de", "DE"), status));
        if (U_FAILURE(status)) made.calendar.reset();
        return made;
      }();
      return shared;
    }
  };

  double now_;
};

std::string replaceLineFeeds(std::string_view text, std::string_view with) {
  std::string result;
  result.reserve(text.size());
  for (char byte : text) {
    if (byte == '\n') {
      result += with;
    } else {
      result.push_back(byte);
    }
  }
  return result;
}

std::string firstCharacters(const std::string& text, std::size_t count) {
  const auto boundaries = unicode::characterBoundaries(text);
  if (boundaries.size() <= count + 1) return text;
  return text.substr(0, boundaries[count]);
}

}  // namespace

std::vector<Item> SearchModel::clipboardItems(std::string_view query) {
  const RelativeDates dates(platform_.clock.now());
  const std::string needle = fold(query);
  std::vector<Item> rows;
  const auto& entries = clipboard_->entries();
  // Where no keystroke can reach the window underneath, Return copies and the row says how
  // to paste.
  const bool pastes = platform_.windowServer.canPaste();
  for (std::size_t index = 0; index < entries.size(); ++index) {
    const ClipboardHistory::Entry& entry = entries[index];
    if (!needle.empty() && fold(entry.text).find(needle) == std::string::npos) continue;
    const auto lines = std::count(entry.text.begin(), entry.text.end(), '\n') + 1;
    std::string subtitle = dates.phrase(entry.date);
    if (lines >= 2) subtitle += " · " + std::to_string(lines) + " Zeilen";
    subtitle += pastes ? " · Eingabe fügt ein" : " · Strg+V zum Einfügen";
    const bool isPath = entry.text.starts_with('/');
    std::weak_ptr<SearchModel> weak = weak_from_this();
    const Platform platform = platform_;
    rows.push_back(
        {.id = "clip:" + std::to_string(index),
         .title = firstCharacters(replaceLineFeeds(entry.text, " ⏎ "), kTitleCharacters),
         .subtitle = std::move(subtitle),
         .kind = Item::Kind::clipboard,
         .icon = {Item::Icon::Symbol{isPath ? "doc.on.doc.fill" : "doc.on.clipboard.fill",
                                     SystemColor::orange}},
         .score = -static_cast<double>(index),
         .path = isPath && lines == 1 ? std::optional<std::string>(entry.text) : std::nullopt,
         .copyText = entry.text,
         .needsConfirm = false,
         .keepsOpen = false,
         .run = [weak, platform, pastes, text = entry.text] {
           if (auto model = weak.lock()) model->copyText(text);
           if (!pastes) return;
           platform.scheduler.postAfter(kPasteDelaySeconds,
                                        [platform] { platform.windowServer.postPaste(); });
         }});
  }
  // A history that fills only while the panel is open says so, below the entries, so that
  // Return still pastes the newest one.
  if (query.empty() && clipboard_->enabled() && !platform_.pasteboard.recordsWithoutFocus()) {
    rows.push_back({.id = "clip:focus",
                    .title = "Kopiertes erscheint ab dem nächsten Öffnen",
                    .subtitle = "Dieser Desktop zeigt Varek die Zwischenablage nur, wenn das "
                                "Feld offen ist",
                    .kind = Item::Kind::command,
                    .icon = {Item::Icon::Symbol{"info.circle.fill", SystemColor::gray}},
                    .score = kPinnedScore,
                    .path = std::nullopt,
                    .copyText = std::nullopt,
                    .needsConfirm = false,
                    .keepsOpen = true,
                    .run = [] {}});
  }
  return rows;
}

std::vector<Item> SearchModel::windowItems(std::string_view query) {
  WindowServer& windowServer = platform_.windowServer;
  if (!windowServer.isTrusted()) {
    // The desktop decides what is missing and what helps.
    return {{.id = "ax",
             .title = "Fenster nicht erreichbar",
             .subtitle = windowServer.unreachableReason(),
             .kind = Item::Kind::command,
             .icon = {Item::Icon::Symbol{"hand.raised.fill", SystemColor::orange}},
             .score = 0,
             .path = std::nullopt,
             .copyText = std::nullopt,
             .needsConfirm = false,
             .keepsOpen = true,
             .run = [&windowServer] { windowServer.requestTrust(); }}};
  }
  std::vector<Item> rows;
  const Fuzzy::Query fuzzyQuery(query);
  for (const Windows::Window& window : windowCache_) {
    double score = 0;
    if (!query.empty()) {
      const auto matched =
          Fuzzy::score(fuzzyQuery, Fuzzy::Target(window.title + " " + window.app.name));
      if (!matched) continue;
      score = *matched;
    }
    rows.push_back(windowItem(window, score));
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Item& left, const Item& right) { return left.score > right.score; });
  return rows;
}

std::vector<Item> SearchModel::recents() {
  std::vector<Item> rows;
  for (const std::string& id : learning_.top(kRecentCount)) {
    if (id.starts_with("app:") || id.starts_with("set:")) {
      const auto& entries = apps_->entries();
      const auto entry = std::find_if(entries.begin(), entries.end(), [&](const auto& candidate) {
        return id.ends_with(candidate.path);
      });
      if (entry != entries.end()) rows.push_back(appItem(*entry, id, 0));
    } else if (id.starts_with("cmd:")) {
      for (const Commands::Command& command : Commands::all()) {
        if (id == "cmd:" + command.title) {
          rows.push_back(commandItem(command, id, 0));
          break;
        }
      }
    } else if (id.starts_with("layout:")) {
      for (Windows::Layout layout : Windows::allLayouts()) {
        if (id == "layout:" + std::string(Windows::title(layout))) {
          rows.push_back(layoutItem(layout, id, 0));
          break;
        }
      }
    }
  }
  return rows;
}

void SearchModel::mergeFiles(std::vector<Item> files) {
  // No file rows to add to a list that holds none: the list stays, and is not drawn again.
  if (files.empty() && !filesMerged_) return;
  // Until file rows are merged the list is the search's own.
  if (!filesMerged_) baseItems_ = items_;
  filesMerged_ = !files.empty();
  std::optional<std::string> selectedId;
  if (selection_ >= 1 && selection_ < static_cast<int>(items_.size())) {
    selectedId = items_[static_cast<std::size_t>(selection_)].id;
  }
  std::vector<Item> merged, pinned;
  for (const Item& row : baseItems_) (row.score <= kPinnedScore ? pinned : merged).push_back(row);
  std::move(files.begin(), files.end(), std::back_inserter(merged));
  std::stable_sort(merged.begin(), merged.end(),
                   [](const Item& left, const Item& right) { return left.score > right.score; });
  std::move(pinned.begin(), pinned.end(), std::back_inserter(merged));
  setItems(std::move(merged));
  if (!selectedId) return;
  const auto found = std::find_if(items_.begin(), items_.end(),
                                  [&](const Item& row) { return row.id == *selectedId; });
  if (found != items_.end()) setSelection(static_cast<int>(found - items_.begin()));
}

}  // namespace varek
