// The clipboard history started over a file holding arbitrary bytes, then one copy of a
// known text and one of the bytes themselves. Afterwards the file is a readable history,
// and bytes that were not one are kept beside it, unchanged.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "sources/clipboard_history.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"

namespace {

using varek::fuzz::require;
using varek::test::readFile;

// The history syncs every save to disk; memory-backed storage keeps that cheap. Made once
// and kept for the whole run, as a pointer that outlives every static destructor.
const std::filesystem::path* scratch = nullptr;

void removeScratch() {
  std::error_code ignored;
  std::filesystem::remove_all(*scratch, ignored);
}

// The stored layout: an array of objects, each with a string "text" and a number "date".
bool isHistory(const nlohmann::json& root) {
  if (!root.is_array()) return false;
  for (const auto& element : root) {
    if (!element.is_object()) return false;
    const auto text = element.find("text");
    const auto date = element.find("date");
    if (text == element.end() || date == element.end() || !text->is_string() ||
        !date->is_number()) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::error_code error;
  std::filesystem::path base = "/dev/shm";
  if (!std::filesystem::is_directory(base, error)) base = std::filesystem::temp_directory_path();
  std::string pattern = (base / "varek-fuzz-XXXXXX").string();
  require(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
  scratch = new std::filesystem::path(pattern);
  std::atexit(removeScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::filesystem::path folder = *scratch / "Varek";
  const std::filesystem::path file = folder / "zwischenablage.json";
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  varek::test::writeFile(file, bytes);
  const bool readable = isHistory(nlohmann::json::parse(bytes, nullptr, false));

  varek::test::VirtualScheduler scheduler;
  varek::test::MemoryDefaults defaults;
  varek::test::FakePasteboard pasteboard;
  auto history = std::make_shared<varek::ClipboardHistory>(pasteboard, scheduler, scheduler,
                                                           defaults, file.string());
  history->start();
  pasteboard.copy("Kopiert um 12:00");
  history->poll();
  require(!history->entries().empty() && history->entries().front().text == "Kopiert um 12:00",
          "a fresh copy leads the list");
  pasteboard.copy(bytes);
  history->poll();
  require(history->entries().size() <= varek::ClipboardHistory::kMaxEntries,
          "the list keeps to its length");

  const auto saved = nlohmann::json::parse(readFile(file), nullptr, false);
  require(isHistory(saved), "the saved file is a history");
  require(saved.size() == history->entries().size(), "the file holds every entry");
  const std::filesystem::path aside = file.string() + ".unreadable";
  if (readable) {
    require(!std::filesystem::exists(aside), "a readable file is not set aside");
  } else {
    require(readFile(aside) == bytes, "unreadable bytes are kept beside the file");
  }
  return 0;
}
