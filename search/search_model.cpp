#include "search/search_model.h"

#include <chrono>

#include "search/unicode.h"

namespace varek {
namespace {

// In mode all a few recently opened files join the ranked rows; the files mode lists more.
constexpr FileSearch::Options kFilesInAll{.limit = 5, .openedOnly = true};
constexpr FileSearch::Options kFilesMode{.limit = 30, .openedOnly = false};

}  // namespace

std::string_view title(SearchModel::Mode mode) {
  switch (mode) {
    case SearchModel::Mode::all:
      return "Alles";
    case SearchModel::Mode::files:
      return "Dateien";
    case SearchModel::Mode::clipboard:
      return "Zwischenablage";
    case SearchModel::Mode::windows:
      return "Fenster";
  }
  return {};
}

std::optional<SearchModel::Mode> modeFromNumber(long long number) {
  if (number < 1 || number > 4) return std::nullopt;
  return static_cast<SearchModel::Mode>(number);
}

SearchModel::SearchModel(const Platform& platform)
    : platform_(platform),
      apps_(std::make_shared<AppIndex>(platform.appScanner, platform.scheduler, platform.clock)),
      clipboard_(std::make_shared<ClipboardHistory>(platform.pasteboard, platform.scheduler,
                                                    platform.clock, platform.defaults,
                                                    platform.paths.clipboardFile())),
      learning_(platform.defaults, platform.clock),
      files_(std::make_shared<FileSearch>(platform.fileIndex, platform.workspace, platform.clock,
                                          platform.paths.homeFolder())) {
  for (const Commands::Command& command : Commands::all()) {
    commandTargets_.emplace_back(&command, Fuzzy::Target(command.title + " " + command.keywords));
  }
  // "fenster" and "window" find every layout.
  for (Windows::Layout layout : Windows::allLayouts()) {
    layoutTargets_.emplace_back(
        layout, Fuzzy::Target(std::string(Windows::title(layout)) + " fenster window"));
  }
}

std::shared_ptr<SearchModel> SearchModel::create(const Platform& platform) {
  auto model = std::make_shared<SearchModel>(platform);
  model->apps_->fill();
  // Loads ICU's data and compiles the patterns now rather than on the first keystroke.
  model->everything("1+1é");
  model->clipboard_->start();
  std::weak_ptr<SearchModel> weak = model;
  model->files_->setOnResults([weak](std::vector<Item> files) {
    if (auto strong = weak.lock()) strong->mergeFiles(std::move(files));
  });
  return model;
}

void SearchModel::notify(Field field) {
  if (observer_) observer_(field);
}

void SearchModel::setQuery(std::string query) {
  if (query == query_) return;
  query_ = std::move(query);
  notify(Field::query);
  setConfirmID(std::nullopt);
  search();
}

void SearchModel::setMode(Mode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  // Another process may have recorded or emptied the history since this one last looked.
  if (mode_ == Mode::clipboard) clipboard_->refresh();
  notify(Field::mode);
  search();
}

void SearchModel::setSelection(int selection) {
  if (selection == selection_) return;
  selection_ = selection;
  notify(Field::selection);
}

void SearchModel::setItems(std::vector<Item> items) {
  items_ = std::move(items);
  notify(Field::items);
}

void SearchModel::setConfirmID(std::optional<std::string> id) {
  if (id == confirmID_) return;
  confirmID_ = std::move(id);
  notify(Field::confirmID);
}

void SearchModel::search() {
  const auto start = std::chrono::steady_clock::now();
  runningPaths_.clear();
  for (const RunningApp& app : platform_.workspace.runningApplications()) {
    if (app.path) runningPaths_.insert(*app.path);
  }
  const std::string_view term = unicode::trimBlanks(query_);

  std::vector<Item> rows;
  switch (mode_) {
    case Mode::all:
      rows = everything(term);
      break;
    case Mode::files:
      break;
    case Mode::clipboard:
      rows = clipboardItems(term);
      break;
    case Mode::windows:
      rows = windowItems(term);
      break;
  }
  baseItems_.clear();  // kept by the first merge of file rows, off the keystroke's path
  filesMerged_ = false;
  setItems(std::move(rows));
  setSelection(0);

  switch (mode_) {
    case Mode::all:
      files_->search(term, kFilesInAll);
      break;
    case Mode::files:
      files_->search(term, kFilesMode);
      break;
    default:
      files_->stop();
  }

  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start;
  if (elapsed.count() != lastSearchMs_) {
    lastSearchMs_ = elapsed.count();
    notify(Field::lastSearchMs);
  }
}

void SearchModel::move(int delta) {
  if (items_.empty()) return;
  const auto count = static_cast<long long>(items_.size());
  // The double modulo keeps a large negative delta inside the list.
  const long long moved = ((selection_ + static_cast<long long>(delta)) % count + count) % count;
  setSelection(static_cast<int>(moved));
  setConfirmID(std::nullopt);
}

void SearchModel::copyText(const std::string& text) {
  platform_.pasteboard.setText(text);
  clipboard_->setLastChange(platform_.pasteboard.changeCount());
}

void SearchModel::activate(Action action) {
  if (selection_ < 0 || selection_ >= static_cast<int>(items_.size())) return;
  const Item row = items_[static_cast<std::size_t>(selection_)];
  switch (action) {
    case Action::reveal:
      if (!row.path) {
        platform_.workspace.beep();
        return;
      }
      platform_.workspace.reveal(*row.path);
      break;
    case Action::copy:
      copyText(row.path ? *row.path : row.copyText ? *row.copyText : row.title);
      break;
    case Action::open:
      if (row.needsConfirm && confirmID_ != row.id) {
        setConfirmID(row.id);
        return;
      }
      learning_.record(row.id, query_);
      if (!row.keepsOpen) hide_();
      if (row.run) row.run();
      return;
  }
  learning_.record(row.id, query_);
  hide_();
}

void SearchModel::reset() {
  files_->stop();
  setQuery("");
  setMode(Mode::all);
  setSelection(0);
  search();
}

void SearchModel::willShow() { previousApp_ = platform_.workspace.frontmostApplication(); }

void SearchModel::refreshSources() {
  apps_->refresh(AppIndex::Refresh::ifStale);
  if (!platform_.windowServer.isTrusted()) return;
  std::weak_ptr<SearchModel> weak = weak_from_this();
  const Platform platform = platform_;
  platform_.scheduler.runConcurrent([weak, platform] {
    auto windows = std::make_shared<std::vector<Windows::Window>>(
        Windows::list(platform.workspace, platform.windowServer));
    platform.scheduler.post([weak, windows] {
      auto model = weak.lock();
      if (!model) return;
      model->windowCache_ = std::move(*windows);
      if (model->mode_ == Mode::windows) model->search();
    });
  });
}

}  // namespace varek
