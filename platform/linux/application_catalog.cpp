#include "platform/linux/application_catalog.h"

#include <climits>
#include <system_error>
#include <thread>

#include "search/unicode.h"

namespace varek {
namespace {

// An unknown name is worth a fresh read, but a burst of them must not cost one each.
constexpr auto kRereadInterval = std::chrono::seconds(30);
constexpr std::string_view kDesktopSuffix = ".desktop";
// FNV-1a, for keys that must be the same in every process.
constexpr std::uint32_t kHashBasis = 2166136261u;
constexpr std::uint32_t kHashPrime = 16777619u;

}  // namespace

void ApplicationCatalog::readNow() { store(read(DesktopEnvironment::current())); }

bool ApplicationCatalog::readInBackground() {
  {
    const std::lock_guard lock(mutex_);
    if (reading_) return true;
    reading_ = true;
    lastRead_ = std::chrono::steady_clock::now();
  }
  try {
    std::thread([catalog = shared_from_this(), environment = DesktopEnvironment::current()] {
      catalog->store(read(environment));
    }).detach();
    return true;
  } catch (const std::system_error&) {
    const std::lock_guard lock(mutex_);
    reading_ = false;
    readDone_.notify_all();
    return false;
  }
}

std::optional<ApplicationCatalog::Entry> ApplicationCatalog::findByWindowClass(
    std::string_view windowClass, std::string_view instance) {
  const std::string lowerClass = unicode::lowercase(windowClass);
  const std::string lowerInstance = unicode::lowercase(instance);
  return find({{Table::windowClass, windowClass},
               {Table::windowClass, instance},
               {Table::desktopId, lowerClass},
               {Table::desktopId, lowerInstance}},
              windowClass);
}

std::optional<ApplicationCatalog::Entry> ApplicationCatalog::findByAppId(std::string_view appId) {
  const std::string lowerId = unicode::lowercase(appId);
  return find({{Table::desktopId, lowerId}, {Table::windowClass, appId}}, appId);
}

int ApplicationCatalog::nameKey(std::string_view name) {
  std::uint32_t hash = kHashBasis;
  for (const char letter : name) {
    hash = (hash ^ static_cast<unsigned char>(letter)) * kHashPrime;
  }
  return -1 - static_cast<int>(hash % static_cast<std::uint32_t>(INT_MAX));
}

std::optional<ApplicationCatalog::Entry> ApplicationCatalog::find(
    std::initializer_list<Probe> probes, std::string_view missed) {
  std::unique_lock lock(mutex_);
  // A window named by its class before the first read ends would keep that name until the
  // panel next opens; the rest of that read, begun with the workspace, is waited for.
  readDone_.wait(lock, [this] { return generation_ > 0 || !reading_; });
  for (const Probe& probe : probes) {
    if (probe.key.empty()) continue;
    const auto& table =
        probe.table == Table::windowClass ? tables_.byWindowClass : tables_.byDesktopId;
    if (const auto found = table.find(std::string(probe.key)); found != table.end()) {
      return found->second;
    }
  }
  // Once per name: an application installed after our last read gets its name soon.
  const auto now = std::chrono::steady_clock::now();
  if (missed.empty() || reading_ || missed_.contains(std::string(missed)) ||
      now - lastRead_ < kRereadInterval) {
    return std::nullopt;
  }
  missed_.emplace(missed);
  lock.unlock();
  readInBackground();
  return std::nullopt;
}

ApplicationCatalog::Tables ApplicationCatalog::read(const DesktopEnvironment& environment) {
  const std::vector<DesktopEntry> entries = readDesktopEntries(environment);
  Tables tables;
  // Of entries that share a class (or an id in lower case) the first by desktop id that a
  // menu shows wins: an application's hidden helpers, such as its URL handler, often name
  // its class too.
  for (const bool shown : {true, false}) {
    for (const DesktopEntry& entry : entries) {
      if ((!entry.noDisplay && entry.shownOnDesktop) != shown) continue;
      const Entry value{entry.name, entry.path};
      if (!entry.startupWindowClass.empty()) {
        tables.byWindowClass.emplace(entry.startupWindowClass, value);
      }
      std::string key = unicode::lowercase(entry.id);
      if (key.ends_with(kDesktopSuffix)) key.resize(key.size() - kDesktopSuffix.size());
      tables.byDesktopId.emplace(std::move(key), value);
    }
  }
  return tables;
}

void ApplicationCatalog::store(Tables fresh) {
  const std::lock_guard lock(mutex_);
  lastRead_ = std::chrono::steady_clock::now();
  tables_ = std::move(fresh);
  ++generation_;
  reading_ = false;
  readDone_.notify_all();
}

}  // namespace varek
