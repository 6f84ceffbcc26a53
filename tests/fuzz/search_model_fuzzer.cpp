// The unified search on arbitrary typed text, in every mode, over a small in-memory
// desktop: a few applications, a setting, running apps with windows, a clipboard history
// and a dictionary. Rows stay within their caps and Return on the first row is safe.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

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

varek::ScannedApp app(std::string name, std::string path, std::string alternate = "") {
  return {.name = std::move(name),
          .alternateName = std::move(alternate),
          .path = std::move(path),
          .url = std::nullopt};
}

void furnish(varek::test::FakePlatform& fake) {
  fake.appScanner.apps = {app("Safari", "/apps/safari.desktop"),
                          app("Terminal", "/apps/terminal.desktop"),
                          app("Café Übersicht", "/apps/cafe.desktop", "cafe-uebersicht"),
                          app("Notizen", "/apps/notes.desktop", "Notes"),
                          app("ｆｕｌｌ ｗｉｄｔｈ 한글", "/apps/wide.desktop")};
  fake.appScanner.settings = {{.name = "Netzwerk",
                               .alternateName = "network",
                               .path = "/settings/network.desktop",
                               .url = "settings://network"}};
  fake.workspace.apps = {
      {.pid = 11, .name = "Safari", .path = "/apps/safari.desktop", .regular = true},
      {.pid = 12, .name = "Terminal", .path = std::nullopt, .regular = true}};
  fake.windowServer.windows = {{11, {{1, "Startseite — Safari"}, {2, ""}}},
                               {12, {{3, "anna@host: ~/Dokumente"}}}};
  fake.dictionary.definitions = {{"haus", "Haus\nein Gebäude, in dem Menschen wohnen"}};
}

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
  furnish(fake);
  const auto model = varek::SearchModel::create(fake.platform());
  fake.pasteboard.copy("/home/anna/Bericht.pdf");
  fake.scheduler.advance(varek::ClipboardHistory::kPollSeconds);
  fake.pasteboard.copy("Zeile eins\nZeile zwei");
  fake.scheduler.advance(varek::ClipboardHistory::kPollSeconds);
  model->willShow();
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
