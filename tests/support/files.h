// Whole files in one call, for tests that look at what a store or a log left behind.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace varek::test {

inline std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Writes the file, making its folder first.
inline void writeFile(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

}  // namespace varek::test
