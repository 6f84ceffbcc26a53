// The dictd reader over a database built from arbitrary bytes: the input up to the
// first NUL is the index, the rest the body, tried both as a dictzip file and as a
// plain .dict. Looking words up must neither crash, hang nor allocate without bound,
// and whatever is found is valid UTF-8.
#include <unistd.h>

#include <cstdint>
#include <filesystem>

#include "platform/linux/dictd_dictionary.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/files.h"

namespace {

namespace fs = std::filesystem;

const fs::path& folder() {
  static const fs::path path =
      fs::temp_directory_path() / ("varek-dictd-fuzz-" + std::to_string(::getpid()));
  return path;
}

// A few fixed words and the index's first headword.
void lookUp(std::string_view index) {
  const varek::DictdDictionary dictionary({folder().string()});
  const std::string firstHeadword(index.substr(0, index.find_first_of("\t\n")));
  for (const std::string& word : {std::string("haus"), std::string("Apfel"), std::string("größe"),
                                  firstHeadword, std::string("x")}) {
    const auto definition = dictionary.definition(word);
    varek::fuzz::require(!definition || varek::fuzz::isValidUtf8(*definition),
                         "a definition is valid UTF-8");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string_view index = bytes.substr(0, bytes.find('\0'));
  const std::string_view body = index.size() < size ? bytes.substr(index.size() + 1) : "";
  fs::remove_all(folder());
  varek::test::writeFile(folder() / "fuzz.index", std::string(index));
  varek::test::writeFile(folder() / "fuzz.dict.dz", std::string(body));
  lookUp(index);
  fs::remove(folder() / "fuzz.dict.dz");
  varek::test::writeFile(folder() / "fuzz.dict", std::string(body));
  lookUp(index);
  return 0;
}
