// The one state object behind the panel: the typed text, the mode, the rows and the
// selection. Every change of the text or the mode runs a search at once, on the main
// thread; Return runs the selected row (learn, hide, run). The views observe it and write
// only query, mode and selection.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"
#include "search/fuzzy.h"
#include "search/item.h"
#include "search/learning.h"
#include "sources/app_index.h"
#include "sources/clipboard_history.h"
#include "sources/commands.h"
#include "sources/file_search.h"
#include "sources/windows.h"

namespace varek {

class SearchModel : public std::enable_shared_from_this<SearchModel> {
 public:
  // The number is also the digit of the shortcut that selects the mode.
  enum class Mode { all = 1, files = 2, clipboard = 3, windows = 4 };
  // Return, Command-Return and Option-Return.
  enum class Action { open, reveal, copy };
  // The fields the views observe.
  enum class Field { query, mode, items, selection, confirmID, lastSearchMs };
  using Observer = std::function<void(Field)>;

  // Rows scoring at or below this stay at the bottom when file rows are merged in.
  static constexpr double kPinnedScore = -1000;

  // Builds the sources, fills the application index on the calling thread and starts the
  // clipboard history. Runs no search.
  static std::shared_ptr<SearchModel> create(const Platform& platform);

  const std::string& query() const { return query_; }
  void setQuery(std::string query);
  Mode mode() const { return mode_; }
  void setMode(Mode mode);
  const std::vector<Item>& items() const { return items_; }
  int selection() const { return selection_; }
  void setSelection(int selection);
  const std::optional<std::string>& confirmID() const { return confirmID_; }
  // How long the last search took, in milliseconds.
  double lastSearchMs() const { return lastSearchMs_; }

  // Called with the field that changed, after it changed.
  void setObserver(Observer observer) { observer_ = std::move(observer); }
  // The panel's hiding routine; rows that do not keep the panel open call it before running.
  void setHide(std::function<void()> hide) { hide_ = std::move(hide); }
  // Opens the launcher's own settings (hotkey, clipboard history, start at login). While
  // one is set, mode all lists a row for it, for desktops that show no tray icon.
  void setShowSettings(std::function<void()> show) { showSettings_ = std::move(show); }

  void search();
  // Moves the selection by delta rows, wrapping around; cancels a pending confirmation.
  void move(int delta);
  void activate(Action action);
  // Back to an empty query in mode all.
  void reset();
  // Notes the application in front before the panel covers it: a layout row places its
  // window.
  void willShow();
  // Refreshes in the background what changes while the panel is hidden: the application
  // index and the open windows. The panel asks once its first frame is out, so that neither
  // the work nor its round trips to the display server hold that frame back.
  void refreshSources();

  AppIndex& apps() { return *apps_; }
  ClipboardHistory& clipboard() { return *clipboard_; }
  Learning& learning() { return learning_; }
  FileSearch& files() { return *files_; }
  const std::vector<Windows::Window>& windowCache() const { return windowCache_; }
  const std::optional<RunningApp>& previousApp() const { return previousApp_; }
  // Whether Return on a clipboard row pastes it, or only copies it.
  bool pastesClipboard() const { return platform_.windowServer.canPaste(); }

  // The ranked rows of mode all for a trimmed term: at most 30 plus the web row.
  std::vector<Item> everything(std::string_view term);
  Item appItem(const AppIndex::Entry& entry, std::string id, double score) const;
  Item layoutItem(Windows::Layout layout, std::string id, double score);
  Item windowItem(const Windows::Window& window, double score) const;

  std::vector<Item> clipboardItems(std::string_view query);
  std::vector<Item> windowItems(std::string_view query);
  // Up to eight rows for what was picked most, rebuilt from the learned ids.
  std::vector<Item> recents();
  // Folds file rows that arrived later into the list, keeping the selected row selected.
  void mergeFiles(std::vector<Item> files);

  explicit SearchModel(const Platform& platform);  // use create()

 private:
  void notify(Field field);
  void setItems(std::vector<Item> items);
  void setConfirmID(std::optional<std::string> id);
  Item commandItem(const Commands::Command& command, std::string id, double score) const;
  // Whether the learning store knows each application entry, by index.
  const std::vector<bool>& learnedApps();
  void copyText(const std::string& text);

  // A row of mode all known only by its score and where it came from; rows are built for
  // the few that rank high enough. Sources are listed in the order they are noted.
  enum class Source { special, app, command, layout, window, settings };
  struct Candidate {
    double score;
    Source source;
    std::size_t index;
  };

  Platform platform_;
  std::string query_;
  Mode mode_ = Mode::all;
  std::vector<Item> items_;
  int selection_ = 0;
  std::optional<std::string> confirmID_;
  double lastSearchMs_ = 0;

  std::shared_ptr<AppIndex> apps_;
  std::shared_ptr<ClipboardHistory> clipboard_;
  Learning learning_;
  std::shared_ptr<FileSearch> files_;
  std::vector<Item> baseItems_;  // the search's rows, once file rows were merged into them
  bool filesMerged_ = false;     // items_ holds file rows merged into baseItems_
  std::vector<Windows::Window> windowCache_;
  std::vector<std::pair<const Commands::Command*, Fuzzy::Target>> commandTargets_;
  std::vector<std::pair<Windows::Layout, Fuzzy::Target>> layoutTargets_;
  std::optional<RunningApp> previousApp_;
  std::function<void()> hide_ = [] {};
  std::function<void()> showSettings_;
  std::unordered_set<std::string> runningPaths_;
  Observer observer_;
  std::vector<Candidate> candidates_;  // the last search's, kept for their memory
  // Most entries of a large index were never picked, and a search looks up the learned
  // bonus only of those that were; kept until the store or the index changes.
  std::vector<bool> learnedApps_;
  std::size_t learnedRevision_ = SIZE_MAX;
  std::size_t learnedAppsRevision_ = SIZE_MAX;
};

// "Alles", "Dateien", "Zwischenablage", "Fenster".
std::string_view title(SearchModel::Mode mode);
// The mode with this number (1 to 4), else nothing.
std::optional<SearchModel::Mode> modeFromNumber(long long number);

}  // namespace varek
