// The defaults file of the desktop backend read from arbitrary bytes: every getter
// answers, a change is written as a JSON object, and bytes that were no JSON object are
// kept aside unchanged instead of being overwritten.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/linux/json_defaults.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/files.h"

namespace {

namespace fs = std::filesystem;
using varek::fuzz::require;
using varek::test::readFile;

// Keys a real file holds, plus one that is never there.
constexpr const char* kKeys[] = {"learning.v1", "clipboardEnabled", "hotkey", "absent"};

// A private folder per process, emptied before each input, so set-aside files of one
// input are not mistaken for those of the next.
const fs::path& folder() {
  static const fs::path path =
      fs::temp_directory_path() / ("varek-json-defaults-fuzz-" + std::to_string(::getpid()));
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  fs::remove_all(folder());
  const fs::path file = folder() / "defaults.json";
  varek::test::writeFile(file, bytes);
  const bool readable = nlohmann::json::parse(bytes, nullptr, false).is_object();

  {
    varek::JsonDefaults defaults(file.string());
    for (const char* key : kKeys) {
      std::ignore = defaults.data(key);
      std::ignore = defaults.boolean(key);
      std::ignore = defaults.string(key);
    }
    defaults.setData("learning.v1", bytes);
    require(defaults.data("learning.v1") == bytes, "written bytes read back at once");
  }

  const auto saved = nlohmann::json::parse(readFile(file), nullptr, false);
  require(saved.is_object(), "the file is a JSON object after a write");
  const fs::path setAside = folder() / "defaults.json.unreadable";
  if (readable) {
    require(!fs::exists(setAside), "a readable file is not set aside");
  } else {
    require(readFile(setAside) == bytes, "unreadable bytes are kept aside unchanged");
  }
  // What was written reads back, with the value intact, in a new process's view.
  varek::JsonDefaults reloaded(file.string());
  require(reloaded.data("learning.v1") == bytes, "written bytes survive a reload");
  return 0;
}
