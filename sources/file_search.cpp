#include "sources/file_search.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "search/fuzzy.h"
#include "search/unicode.h"

namespace varek {
namespace {

// Build products, dependency caches and hidden folders: their files are never what the
// user is looking for, and they would crowd out the documents of the same name.
constexpr std::array<std::string_view, 12> kNoiseFragments{
    "/Library/",         "/node_modules/",  "/.",           "/build/",
    "/DerivedData/",     "/third_party/",   "/externals/",  "/vendor/",
    "/drive_c/windows/", "/site-packages/", "/CMakeFiles/", "/Pods/",
};

// Compiler and interpreter output, compared with the extension lower-cased.
constexpr std::array<std::string_view, 7> kNoiseExtensions{"o",     "d", "obj",  "pyc",
                                                           "dylib", "a", "class"};

// A single letter matches far too many names to be worth asking the index about.
constexpr std::size_t kShortestTerm = 2;

// Files rank below applications and commands of the same match quality.
constexpr double kFilePenalty = 200;

// A directory with this suffix is an application bundle, opened as one thing.
constexpr std::string_view kBundleSuffix = ".app";

std::string_view trimmedBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::size_t characterCount(std::string_view text) {
  return unicode::characterBoundaries(text).size() - 1;
}

std::string_view lastComponent(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view parentFolder(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

std::string lowercasedAscii(std::string_view text) {
  std::string lowered(text);
  for (char& character : lowered) {
    if (character >= 'A' && character <= 'Z') character = static_cast<char>(character - 'A' + 'a');
  }
  return lowered;
}

// The folder as the user knows it: "~" for the home folder and "~/…" inside it. A sibling
// that merely shares the home folder's name as a prefix ("/home/annabel") is left alone.
std::string abbreviated(std::string_view folder, std::string_view home) {
  if (home.empty() || folder.substr(0, home.size()) != home) return std::string(folder);
  const std::string_view rest = folder.substr(home.size());
  if (!rest.empty() && rest.front() != '/') return std::string(folder);
  return "~" + std::string(rest);
}

// Only the part below the home folder is judged, so a home that itself lies under a
// folder named like noise ("/srv/build/anna") does not hide every file.
std::string_view belowHome(std::string_view path, std::string_view home) {
  if (home.size() <= 1 || !path.starts_with(home) || path.size() <= home.size() ||
      path[home.size()] != '/') {
    return path;
  }
  return path.substr(home.size());
}

// The home folder without a trailing separator, so "/home/anna/" abbreviates as "/home/anna".
std::string withoutTrailingSlash(std::string home) {
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home;
}

}  // namespace

FileSearch::FileSearch(FileIndex& index, Workspace& workspace, const Clock& clock, std::string home)
    : index_(index),
      workspace_(workspace),
      clock_(clock),
      home_(withoutTrailingSlash(std::move(home))) {}

void FileSearch::search(std::string_view term, Options options) {
  stop();
  term_ = std::string(trimmedBlanks(term));
  if (characterCount(term_) < kShortestTerm) {
    if (onResults_) onResults_({});
    return;
  }
  FileIndex::Request request;
  request.term = term_;
  request.openedOnly = options.openedOnly;
  if (options.openedOnly) request.openedSince = clock_.now() - kOpenedWithinSeconds;
  request.limit = kExamined;

  const std::uint64_t generation = ++generation_;
  limit_ = options.limit;
  // The index may still deliver after this object is gone or has moved on to another
  // query, so the callback neither owns it nor trusts a delivery of an older query.
  query_ = index_.start(
      request, [weak = weak_from_this(), generation](const std::vector<FileIndex::Hit>& hits) {
        const std::shared_ptr<FileSearch> self = weak.lock();
        if (self && self->generation_ == generation) self->gathered(hits);
      });
}

void FileSearch::stop() {
  if (!query_) return;
  query_->stop();
  query_ = nullptr;
  ++generation_;
}

bool FileSearch::isNoise(std::string_view path) {
  for (std::string_view fragment : kNoiseFragments) {
    if (path.find(fragment) != std::string_view::npos) return true;
  }
  const std::string_view name = lastComponent(path);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string extension = lowercasedAscii(name.substr(dot + 1));
  return std::find(kNoiseExtensions.begin(), kNoiseExtensions.end(), extension) !=
         kNoiseExtensions.end();
}

void FileSearch::gathered(const std::vector<FileIndex::Hit>& hits) {
  if (!query_) return;
  const Fuzzy::Query query(term_);
  const std::size_t examined = std::min(hits.size(), static_cast<std::size_t>(kExamined));

  Workspace& workspace = workspace_;
  std::vector<Item> rows;
  for (std::size_t index = 0; index < examined; ++index) {
    const FileIndex::Hit& hit = hits[index];
    if (hit.path.empty() || isNoise(belowHome(hit.path, home_))) continue;
    const std::string_view name = lastComponent(hit.path);
    const std::optional<double> score = Fuzzy::score(query, Fuzzy::Target(name));
    if (!score) continue;

    const bool folder = hit.isDirectory && !hit.path.ends_with(kBundleSuffix);
    rows.push_back(Item{
        .id = "file:" + hit.path,
        .title = std::string(name),
        .subtitle = abbreviated(parentFolder(hit.path), home_),
        .kind = folder ? Item::Kind::folder : Item::Kind::file,
        .icon = Item::Icon{Item::Icon::File{hit.path}},
        .score = *score - kFilePenalty,
        .path = hit.path,
        .copyText = std::nullopt,
        .needsConfirm = false,
        .keepsOpen = false,
        .run = [&workspace, path = hit.path] { workspace.openFile(path); },
    });
  }

  // Stable, so rows of equal score keep the index's newest-first order.
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Item& left, const Item& right) { return left.score > right.score; });
  const std::size_t shown = static_cast<std::size_t>(std::max(limit_, 0));
  if (rows.size() > shown)
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(shown), rows.end());

  // A copy, so that a handler which replaces itself does not destroy the function it runs in.
  const Results deliver = onResults_;
  if (deliver) deliver(std::move(rows));
}

}  // namespace varek
