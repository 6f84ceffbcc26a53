// The dictd reader over a database built from arbitrary bytes: the input up to the
// first NUL is the index, the rest the body, tried both as a dictzip file and as a
// plain .dict. Looking words up must neither crash, hang nor allocate without bound,
// and whatever is found is valid UTF-8.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/linux/dictd_dictionary.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;
using varek::fuzz::isValidUtf8;
using varek::fuzz::require;

const fs::path& folder() {
  static const fs::path path =
      fs::temp_directory_path() / ("varek-dictd-fuzz-" + std::to_string(::getpid()));
  return path;
}

void write(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), std::streamsize(bytes.size()));
}

// The headwords of the index, a few fixed words and the input's first line.
void lookUp(std::string_view index) {
  const varek::DictdDictionary dictionary({folder().string()});
  std::string words[] = {"haus", "Apfel", "größe", "", "x"};
  words[3] = std::string(index.substr(0, index.find_first_of("\t\n")));
  for (const std::string& word : words) {
    const auto definition = dictionary.definition(word);
    require(!definition || isValidUtf8(*definition), "a definition is valid UTF-8");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t split = bytes.find('\0');
  const std::string_view index = bytes.substr(0, split);
  const std::string_view body =
      split == std::string_view::npos ? std::string_view() : bytes.substr(split + 1);

  fs::remove_all(folder());
  fs::create_directories(folder());
  write(folder() / "fuzz.index", index);
  write(folder() / "fuzz.dict.dz", body);
  lookUp(index);

  fs::remove(folder() / "fuzz.dict.dz");
  write(folder() / "fuzz.dict", body);
  lookUp(index);
  return 0;
}
