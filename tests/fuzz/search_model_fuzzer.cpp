// The unified search on arbitrary typed text, in every mode, over a small in-memory
// desktop: a few applications, a setting, running apps with windows, a clipboard history
// and a dictionary. Rows stay within their caps and Return on the first row is safe.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>

#include "search/search_model.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/fake_platform.h"

namespace {

using varek::fuzz::require;
using Mode = varek::SearchModel::Mode;

// The ranked rows of mode all and the web row that closes them.
constexpr std::size_t kMaxRowsInAll = 31;
// Up to five recently opened files join them when the index answers.
constexpr std::size_t kMaxFilesInAll = 5;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every model keeps a clipboard file that is synced on save; memory-backed storage keeps
  // that cheap.
  std::error_code error;
  if (std::filesystem::is_directory("/dev/shm", error)) ::setenv("TMPDIR", "/dev/shm", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  varek::test::FakePlatform fake;
  fake.appScanner.apps = {{"Safari", "", "/apps/safari.desktop", {}},
                          {"Terminal", "", "/apps/terminal.desktop", {}},
                          {"Café Übersicht", "cafe-uebersicht", "/apps/cafe.desktop", {}},
                          {"Notizen", "Notes", "/apps/notes.desktop", {}},
                          {"ｆｕｌｌ ｗｉｄｔｈ 한글", "", "/apps/wide.desktop", {}}};
  fake.appScanner.settings = {
      {"Netzwerk", "network", "/settings/network.desktop", "settings://network"}};
  fake.workspace.apps = {
      {.pid = 11, .name = "Safari", .path = "/apps/safari.desktop", .regular = true},
      {.pid = 12, .name = "Terminal", .path = std::nullopt, .regular = true}};
  fake.windowServer.windows = {{11, {{1, "Startseite — Safari"}, {2, ""}}},
                               {12, {{3, "anna@host: ~/Dokumente"}}}};
  fake.dictionary.definitions = {{"haus", "Haus\nein Gebäude, in dem Menschen wohnen"}};
  const auto model = varek::SearchModel::create(fake.platform());
  for (const char* copied : {"/home/anna/Bericht.pdf", "Zeile eins\nZeile zwei"}) {
    fake.pasteboard.copy(copied);
    fake.scheduler.advance(varek::ClipboardHistory::kPollSeconds);
  }
  model->willShow();
  model->refreshSources();
  fake.scheduler.runBackground();

  for (const Mode mode : {Mode::all, Mode::files, Mode::clipboard, Mode::windows}) {
    model->setMode(mode);
    model->setQuery(text);
    require(model->selection() == 0, "every search selects the first row");
    if (mode == Mode::all) {
      require(model->items().size() <= kMaxRowsInAll, "mode all shows at most 31 rows");
      fake.fileIndex.deliver({{"/home/anna/" + text, false}, {"/home/anna/Ordner", true}});
      require(model->items().size() <= kMaxRowsInAll + kMaxFilesInAll,
              "files add at most five rows");
    }
    for (const auto& row : model->items()) require(!row.id.empty(), "every row has an id");
    model->setQuery("");
  }

  // Return on the first row of mode all: learns the text, runs the row on the fakes.
  model->setMode(Mode::all);
  model->setQuery(text);
  model->activate(varek::SearchModel::Action::open);
  model->activate(varek::SearchModel::Action::open);
  fake.scheduler.advance(1);
  model->reset();
  require(model->query().empty() && model->mode() == Mode::all, "reset empties the query");
  return 0;
}
