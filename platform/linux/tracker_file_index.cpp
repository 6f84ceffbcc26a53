#include "platform/linux/tracker_file_index.h"

// GLib's headers name struct members "signals", which Qt defines as a keyword macro: they
// must be read before any Qt header.
#include <dlfcn.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <libtracker-sparql/tracker-sparql.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>

#include "platform/log.h"
#include "platform/scheduler.h"
#include "search/fold.h"
#include "search/unicode.h"
#include "sources/file_search.h"

namespace varek {
namespace {

using Hits = std::vector<FileIndex::Hit>;

// Seconds from 1970-01-01 to 2001-01-01 UTC: requests count from 2001, the desktop from 1970.
constexpr double kUnixTimeOf2001 = 978307200;
// Copying a folder raises a burst of index events; one delivery per burst is enough, and
// this is short enough that the list still seems to follow the disk at once.
constexpr std::chrono::milliseconds kSettle{50};
// The recent files are read one at a time, off the main thread, and piece by piece, so that
// reading them costs little memory however much of them is read.
constexpr const char* kRecentFilesQueue = "recent-files";
constexpr std::size_t kReadPiece = 64 * 1024;

// Matches the name as the user sees it, ignoring case and accents on both sides. The folder
// type sits on the content the file is interpreted as, not on the file itself. Other indexed
// roots (removable media) are dropped afterwards rather than by STRSTARTS here, which made
// the query twice as slow on 20 000 files.
constexpr const char* kFilesQuery = R"sparql(
SELECT ?url ?folder WHERE {
  GRAPH tracker:FileSystem {
    ?file a nfo:FileDataObject ;
          nfo:fileName ?name ;
          nie:url ?url .
    OPTIONAL { ?file nfo:fileLastModified ?modified }
    FILTER (fn:contains(tracker:unaccent(LCASE(?name)), tracker:unaccent(LCASE(~term))))
    BIND (EXISTS { ?file nie:interpretedAs ?content . ?content a nfo:Folder } AS ?folder)
  }
}
ORDER BY DESC(?modified)
LIMIT ~limit
)sparql";

// libtracker-sparql, loaded when the first file search asks the miner rather than with the
// program: most sessions and every `varek query` outside the files mode never do, and the
// library with what it pulls in (SQLite, libxml2, json-glib, a stemmer) costs each process
// about 2 MB and a few milliseconds to load. The headers still describe the functions.
class TrackerLibrary {
 public:
  decltype(&tracker_sparql_connection_bus_new_async) connect = nullptr;
  decltype(&tracker_sparql_connection_bus_new_finish) connected = nullptr;
  decltype(&tracker_sparql_connection_query_statement) prepare = nullptr;
  decltype(&tracker_sparql_connection_create_notifier) notifier = nullptr;
  decltype(&tracker_sparql_statement_bind_string) bindString = nullptr;
  decltype(&tracker_sparql_statement_bind_int) bindInteger = nullptr;
  decltype(&tracker_sparql_statement_execute_async) execute = nullptr;
  decltype(&tracker_sparql_statement_execute_finish) executed = nullptr;
  decltype(&tracker_sparql_cursor_next) next = nullptr;
  decltype(&tracker_sparql_cursor_get_string) string = nullptr;
  decltype(&tracker_sparql_cursor_get_boolean) boolean = nullptr;

  // The library with every function above, or nothing where it is not installed; loaded on
  // the first call and kept for the life of the process, as the miner's notifier is.
  static const TrackerLibrary* get(std::string& failure) {
    static const auto* const library = new TrackerLibrary();
    failure = library->failure_;
    return library->failure_.empty() ? library : nullptr;
  }

 private:
  static constexpr const char* kFile = "libtracker-sparql-3.0.so.0";

  TrackerLibrary() {
    void* handle = dlopen(kFile, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      failure_ = dlerror();
      return;
    }
    const auto resolve = [&](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
      if (function == nullptr && failure_.empty()) failure_ = std::string(kFile) + " lacks " + name;
    };
    resolve(connect, "tracker_sparql_connection_bus_new_async");
    resolve(connected, "tracker_sparql_connection_bus_new_finish");
    resolve(prepare, "tracker_sparql_connection_query_statement");
    resolve(notifier, "tracker_sparql_connection_create_notifier");
    resolve(bindString, "tracker_sparql_statement_bind_string");
    resolve(bindInteger, "tracker_sparql_statement_bind_int");
    resolve(execute, "tracker_sparql_statement_execute_async");
    resolve(executed, "tracker_sparql_statement_execute_finish");
    resolve(next, "tracker_sparql_cursor_next");
    resolve(string, "tracker_sparql_cursor_get_string");
    resolve(boolean, "tracker_sparql_cursor_get_boolean");
  }

  std::string failure_;
};

struct GObjectRelease {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename Type>
using GObjectPointer = std::unique_ptr<Type, GObjectRelease>;

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool isInside(std::string_view path, std::string_view folder) {
  return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

std::string lastComponent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The environment as it is now: GLib caches the user's folders on first use, and a test
// or the command line may have set them after that.
std::string environmentHome() {
  const char* home = std::getenv("HOME");
  return home != nullptr && *home != '\0' ? home : g_get_home_dir();
}

std::string defaultRecentFiles() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  // The base-directory rules ignore a relative XDG_DATA_HOME.
  const std::string folder = dataHome != nullptr && dataHome[0] == '/'
                                 ? std::string(dataHome)
                                 : withoutTrailingSlash(environmentHome()) + "/.local/share";
  return folder + "/recently-used.xbel";
}

// Ends a running query when stopped or destroyed.
template <typename Live>
class Running final : public FileIndex::Query {
 public:
  explicit Running(std::shared_ptr<Live> live) : live_(std::move(live)) {}
  ~Running() override { Running::stop(); }

  void stop() override {
    if (live_) live_->stop();
    live_.reset();
  }

 private:
  std::shared_ptr<Live> live_;
};

// Looks for names containing the term below a folder on a worker thread, breadth first,
// and hands what it found so far to the main thread in batches, newest change first.
class HomeWalk {
 public:
  using Deliver = std::function<void(const Hits&)>;

  HomeWalk(std::string home, std::string foldedTerm, int limit, Deliver deliver)
      : deliver_(std::move(deliver)) {
    batches_.setInterval(kSettle);
    QObject::connect(&batches_, &QTimer::timeout, &batches_, [this] { deliverBatch(); });
    batches_.start();
    const std::size_t most = static_cast<std::size_t>(std::max(limit, 0));
    worker_ = std::jthread([this, home = std::move(home), term = std::move(foldedTerm),
                            most](std::stop_token stop) { search(stop, home, term, most); });
  }

 private:
  struct Found {
    std::string path;
    bool isDirectory = false;
    std::filesystem::file_time_type modified;
  };

  void search(const std::stop_token& stop, const std::string& home, const std::string& term,
              std::size_t most) {
    namespace fs = std::filesystem;
    std::size_t count = 0;
    std::deque<fs::path> folders{fs::path(home)};
    while (!folders.empty() && count < most) {
      const fs::path folder = std::move(folders.front());
      folders.pop_front();
      std::error_code error;
      fs::directory_iterator entries(folder, fs::directory_options::skip_permission_denied, error);
      for (; !error && entries != fs::directory_iterator() && count < most;
           entries.increment(error)) {
        if (stop.stop_requested()) return;
        const fs::directory_entry& entry = *entries;
        std::error_code ignored;
        const bool isFolder = entry.is_directory(ignored);
        const std::string path = entry.path().string();
        // Noise covers hidden names too. The home folder itself may lie below a folder of
        // a noise name ("build"), so only the part below it is judged.
        std::string below = path.substr(home.size());
        if (isFolder) below += '/';
        if (FileSearch::isNoise(below)) continue;
        // A linked folder may lead back up the tree; it is reported but not entered.
        if (isFolder && !entry.is_symlink(ignored)) folders.push_back(entry.path());
        if (fold(entry.path().filename().string()).find(term) == std::string::npos) continue;

        Found found{path, isFolder, entry.last_write_time(ignored)};
        const std::lock_guard lock(mutex_);
        found_.push_back(std::move(found));
        ++count;
      }
    }
    const std::lock_guard lock(mutex_);
    finished_ = true;
  }

  void deliverBatch() {
    bool finished = false;
    bool added = false;
    {
      const std::lock_guard lock(mutex_);
      finished = finished_;
      added = !found_.empty();
      std::move(found_.begin(), found_.end(), std::back_inserter(gathered_));
      found_.clear();
    }
    if (finished) batches_.stop();
    // A walk that found nothing still says so once, at its end.
    if (!added && (!finished || deliveredOnce_)) return;
    deliveredOnce_ = true;
    std::stable_sort(gathered_.begin(), gathered_.end(), [](const Found& left, const Found& right) {
      return left.modified > right.modified;
    });
    Hits hits;
    hits.reserve(gathered_.size());
    for (const Found& found : gathered_) hits.push_back({found.path, found.isDirectory});
    // A copy: the receiver may end the query, and with it this walk, while it runs.
    const Deliver deliver = deliver_;
    deliver(hits);
  }

  Deliver deliver_;
  std::mutex mutex_;
  std::vector<Found> found_;  // handed over from the worker, guarded by mutex_
  bool finished_ = false;     // guarded by mutex_
  std::vector<Found> gathered_;
  bool deliveredOnce_ = false;
  QTimer batches_;
  // Last, so that it is stopped and joined before anything it uses goes away.
  std::jthread worker_;
};

// Which version of a file is on disk: writers replace it by renaming a new one over it.
struct Signature {
  ino_t inode = 0;
  off_t size = -1;
  std::int64_t modifiedNanoseconds = -1;
  bool operator==(const Signature&) const = default;
};

Signature signatureOf(const struct stat& info) {
  return {info.st_ino, info.st_size,
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

// A missing file has the empty signature.
Signature signatureOf(const std::string& file) {
  struct stat info {};
  return ::stat(file.c_str(), &info) == 0 ? signatureOf(info) : Signature{};
}

struct RecentFile {
  std::string path;
  std::string foldedName;
  double lastUse = 0;  // Unix time
};

// What one read of the recent files found.
struct RecentFilesRead {
  Signature signature;  // of the file that was read
  std::vector<RecentFile> files;
  off_t size = 0;
  bool cut = false;  // only its end was read
};

// The bookmarks of an xbel text, reduced while they are parsed to the most recently used
// local files below a folder, so that a history of any length costs only what is kept.
class BookmarkReader {
 public:
  BookmarkReader(std::string home, std::size_t kept)
      : home_(std::move(home)),
        kept_(kept),
        context_(g_markup_parse_context_new(&kParser, GMarkupParseFlags{}, this, nullptr)) {}
  ~BookmarkReader() { g_markup_parse_context_free(context_); }
  BookmarkReader(const BookmarkReader&) = delete;
  BookmarkReader& operator=(const BookmarkReader&) = delete;

  // Parses the next piece of the text; false once the text is not well-formed.
  bool feed(std::string_view text) {
    return text.empty() || g_markup_parse_context_parse(context_, text.data(),
                                                        static_cast<gssize>(text.size()), nullptr);
  }
  // Whether the text ended where it may.
  bool finish() { return g_markup_parse_context_end_parse(context_, nullptr); }

  // Newest last use first; a file bookmarked twice counts once, with its newer use.
  std::vector<RecentFile> files() {
    keepNewest();
    std::sort(found_.begin(), found_.end(), newer);
    std::vector<RecentFile> files;
    std::set<std::string_view> seen;
    for (const Found& found : found_) {
      if (!seen.insert(found.path).second) continue;
      files.push_back({found.path, fold(lastComponent(found.path)), found.lastUse});
    }
    return files;
  }

 private:
  struct Found {
    std::string path;
    double lastUse = 0;
    std::size_t order = 0;  // in the file, which breaks ties of equal times
  };

  static bool newer(const Found& left, const Found& right) {
    return left.lastUse != right.lastUse ? left.lastUse > right.lastUse : left.order < right.order;
  }

  static double unixTime(const char* iso8601) {
    GDateTime* time = g_date_time_new_from_iso8601(iso8601, nullptr);
    if (time == nullptr) return -1;
    const double seconds =
        static_cast<double>(g_date_time_to_unix(time)) + g_date_time_get_microsecond(time) / 1e6;
    g_date_time_unref(time);
    return seconds;
  }

  // The last use is the latest of the visit, the modification and each application's own
  // stamp, which older writers give in seconds rather than as a date.
  static void opened(GMarkupParseContext*, const gchar* element, const gchar** names,
                     const gchar** values, gpointer data, GError**) {
    auto* self = static_cast<BookmarkReader*>(data);
    const std::string_view name = element;
    const bool bookmark = name == "bookmark";
    const bool application =
        self->inBookmark_ && (name == "application" || name.ends_with(":application"));
    if (!bookmark && !application) return;
    if (bookmark) {
      self->inBookmark_ = true;
      self->address_.clear();
      self->lastUse_ = -1;
    }
    for (; *names != nullptr; ++names, ++values) {
      const std::string_view attribute = *names;
      if (bookmark && attribute == "href") {
        self->address_ = *values;
      } else if (attribute == "modified" || (bookmark && attribute == "visited")) {
        self->lastUse_ = std::max(self->lastUse_, unixTime(*values));
      } else if (application && attribute == "timestamp") {
        self->lastUse_ = std::max(self->lastUse_, g_ascii_strtod(*values, nullptr));
      }
    }
  }

  static void closed(GMarkupParseContext*, const gchar* element, gpointer data, GError**) {
    auto* self = static_cast<BookmarkReader*>(data);
    if (!self->inBookmark_ || std::string_view(element) != "bookmark") return;
    self->inBookmark_ = false;
    g_autofree gchar* path = g_filename_from_uri(self->address_.c_str(), nullptr, nullptr);
    if (path == nullptr) return;
    std::string local = withoutTrailingSlash(path);
    if (!isInside(local, self->home_)) return;
    self->found_.push_back({std::move(local), self->lastUse_, self->order_++});
    // Trimmed only now and then, so that each bookmark costs a constant share of the work.
    if (self->found_.size() >= 2 * self->kept_) self->keepNewest();
  }

  void keepNewest() {
    if (found_.size() <= kept_) return;
    const auto end = found_.begin() + static_cast<std::ptrdiff_t>(kept_);
    std::nth_element(found_.begin(), end, found_.end(), newer);
    found_.erase(end, found_.end());
  }

  static constexpr GMarkupParser kParser{&BookmarkReader::opened, &BookmarkReader::closed, nullptr,
                                         nullptr, nullptr};

  std::string home_;
  std::size_t kept_;
  GMarkupParseContext* context_;
  std::vector<Found> found_;
  std::size_t order_ = 0;
  bool inBookmark_ = false;
  std::string address_;
  double lastUse_ = -1;
};

// Where the first bookmark element of a piece of xbel text begins.
std::size_t bookmarkStart(std::string_view text) {
  constexpr std::string_view kTag = "<bookmark";
  constexpr std::string_view kBlanks = " \t\r\n";
  for (std::size_t at = text.find(kTag); at != std::string_view::npos;
       at = text.find(kTag, at + 1)) {
    const std::size_t next = at + kTag.size();
    if (next < text.size() && kBlanks.find(text[next]) != std::string_view::npos) return at;
  }
  return std::string_view::npos;
}

// Reads the recent files on a background queue. A malformed file holds none.
RecentFilesRead readRecentFiles(const std::string& file, const std::string& home) {
  RecentFilesRead read;
  // Not blocking, and only a regular file: a pipe in its place would wait for a writer
  // forever, a device may never end.
  const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) return read;
  struct stat info {};
  if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    read.signature = signatureOf(info);
    ::close(descriptor);
    return read;
  }
  read.signature = signatureOf(info);
  read.size = info.st_size;
  off_t offset =
      std::max<off_t>(0, info.st_size - static_cast<off_t>(TrackerFileIndex::kRecentFilesBytes));
  read.cut = offset > 0;

  BookmarkReader reader(home, TrackerFileIndex::kRecentFilesKept);
  // The end begins inside some bookmark: reading starts at the next whole one, inside a
  // root element of its own that the file's closing tag ends.
  bool seeking = read.cut;
  std::string skipped;
  bool wellFormed = !seeking || reader.feed("<xbel>");
  std::string piece(kReadPiece, '\0');
  while (wellFormed && offset < info.st_size) {
    const std::size_t wanted =
        std::min(piece.size(), static_cast<std::size_t>(info.st_size - offset));
    const ssize_t count = ::pread(descriptor, piece.data(), wanted, offset);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    offset += count;
    std::string_view text(piece.data(), static_cast<std::size_t>(count));
    if (seeking) {
      skipped.append(text);
      const std::size_t first = bookmarkStart(skipped);
      if (first == std::string::npos) continue;
      seeking = false;
      text = std::string_view(skipped).substr(first);
    }
    wellFormed = reader.feed(text);
  }
  ::close(descriptor);
  if (wellFormed && !seeking && reader.finish()) read.files = reader.files();
  return read;
}

}  // namespace

// The connection to one miner and its notifier, made once per process and shared by every
// index and query; it settles as ready or absent, and queries that start before it has
// settled wait for it.
//
// It is never released. Tracker 3.4's notifier goes on using itself and its subscription
// on a worker thread after it has handed an event batch to the main loop, so neither its
// last reference nor its subscription may go while events can arrive: both freed it under
// that thread's feet here (heap corruption, with a notifier per query and with one per
// index). One notifier for the life of the process is what the launcher needs anyway.
class TrackerMiner {
 public:
  enum class State { connecting, ready, absent };

  static std::shared_ptr<TrackerMiner> of(const std::string& service) {
    static auto* const miners = new std::map<std::string, std::shared_ptr<TrackerMiner>>();
    std::shared_ptr<TrackerMiner>& miner = (*miners)[service];
    if (!miner) {
      miner = std::make_shared<TrackerMiner>(service);
      std::string failure;
      miner->library_ = TrackerLibrary::get(failure);
      if (miner->library_ != nullptr) {
        miner->library_->connect(service.c_str(), nullptr, nullptr, nullptr,
                                 &TrackerMiner::connected, miner.get());
      } else {
        miner->state_ = State::absent;
        miner->failure_ = failure;
      }
    }
    return miner;
  }

  explicit TrackerMiner(std::string service) : service_(std::move(service)) {}

  State state() const { return state_; }
  const std::string& service() const { return service_; }
  // Why the miner is absent.
  const std::string& failure() const { return failure_; }
  TrackerSparqlStatement* statement() const { return statement_.get(); }
  // Set while the miner is ready.
  const TrackerLibrary& library() const { return *library_; }

  void whenSettled(std::function<void()> then) { waiting_.push_back(std::move(then)); }

  // Calls changed after each batch of index events, until forgotten.
  std::uint64_t listen(std::function<void()> changed) {
    listeners_.emplace(++lastListener_, std::move(changed));
    return lastListener_;
  }
  void forget(std::uint64_t listener) { listeners_.erase(listener); }

 private:
  static void connected(GObject*, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<TrackerMiner*>(data);
    g_autoptr(GError) error = nullptr;
    const TrackerLibrary& library = *self->library_;
    self->connection_.reset(library.connected(result, &error));
    if (self->connection_) {
      // Over the bus this only names the query; it is parsed at its first run.
      self->statement_.reset(
          library.prepare(self->connection_.get(), kFilesQuery, nullptr, &error));
    }
    if (self->statement_) {
      self->state_ = State::ready;
      self->notifier_.reset(library.notifier(self->connection_.get()));
      g_signal_connect(self->notifier_.get(), "events", G_CALLBACK(&TrackerMiner::indexChanged),
                       self);
    } else {
      self->state_ = State::absent;
      self->failure_ = error != nullptr ? error->message : "";
    }
    const std::vector<std::function<void()>> waiting = std::move(self->waiting_);
    self->waiting_.clear();
    for (const auto& then : waiting) then();
  }

  static void indexChanged(TrackerNotifier*, gchar*, gchar*, GPtrArray*, gpointer data) {
    const auto* self = static_cast<TrackerMiner*>(data);
    std::vector<std::function<void()>> listeners;
    for (const auto& [listener, changed] : self->listeners_) listeners.push_back(changed);
    for (const auto& changed : listeners) changed();
  }

  std::string service_;
  const TrackerLibrary* library_ = nullptr;
  State state_ = State::connecting;
  std::string failure_;
  GObjectPointer<TrackerSparqlConnection> connection_;
  GObjectPointer<TrackerSparqlStatement> statement_;
  GObjectPointer<TrackerNotifier> notifier_;
  std::vector<std::function<void()>> waiting_;
  std::map<std::uint64_t, std::function<void()>> listeners_;
  std::uint64_t lastListener_ = 0;
};

// recently-used.xbel, as the desktop's file choosers and viewers write it. Read on a
// background queue, at start and whenever it is no longer the file read last, and kept
// only as far as rows can use it; one read at a time, and one more for any changes that
// arrive meanwhile.
class RecentFiles : public std::enable_shared_from_this<RecentFiles> {
 public:
  RecentFiles(Scheduler& scheduler, std::string file, std::string home, const Log* log)
      : scheduler_(scheduler), file_(std::move(file)), home_(std::move(home)), log_(log) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettle);
    const auto changed = [this] {
      watch();
      if (!settle_.isActive()) settle_.start();
    };
    QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged, &settle_, changed);
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_, changed);
    QObject::connect(&settle_, &QTimer::timeout, &settle_, [this] { refresh(); });
    watch();
  }

  // Starts reading the file unless the list is that of the file on disk now; true when it
  // is, else the listeners hear when the list has been read.
  bool refresh() {
    if (reading_) {
      readAgain_ = true;
      return false;
    }
    if (loaded_ == signatureOf(file_)) return true;
    read();
    return false;
  }

  // Newest last use first.
  const std::vector<RecentFile>& files() const { return files_; }

  // Calls loaded after each read that lands, until forgotten.
  std::uint64_t listen(std::function<void()> loaded) {
    listeners_.emplace(++lastListener_, std::move(loaded));
    return lastListener_;
  }
  void forget(std::uint64_t listener) { listeners_.erase(listener); }

 private:
  void read() {
    reading_ = true;
    scheduler_.runSerial(kRecentFilesQueue, [weak = weak_from_this(), &scheduler = scheduler_,
                                             file = file_, home = home_] {
      RecentFilesRead read = readRecentFiles(file, home);
      scheduler.post([weak, read = std::move(read)]() mutable {
        if (const auto self = weak.lock()) self->landed(std::move(read));
      });
    });
  }

  void landed(RecentFilesRead read) {
    reading_ = false;
    loaded_ = read.signature;
    files_ = std::move(read.files);
    if (read.cut && log_ != nullptr && !toldCut_) {
      toldCut_ = true;
      char sizes[64];
      std::snprintf(sizes, sizeof sizes, "%.1f MB groß; nur die letzten %.1f MB",
                    static_cast<double>(read.size) / 1e6,
                    static_cast<double>(TrackerFileIndex::kRecentFilesBytes) / 1e6);
      log_->write("Zuletzt benutzte Dateien: " + file_ + " ist " + sizes + " werden gelesen");
    }
    // A list that a newer file on disk has replaced meanwhile is not worth showing.
    if (std::exchange(readAgain_, false) && !refresh()) return;
    std::vector<std::function<void()>> listeners;
    for (const auto& [listener, loaded] : listeners_) listeners.push_back(loaded);
    for (const auto& loaded : listeners) loaded();
  }

  // A replaced file is a new inode that the watcher does not follow; the folder is watched
  // too, so that a file created or renamed into place is noticed.
  void watch() {
    const QString file = QString::fromStdString(file_);
    const QString folder = QString::fromStdString(file_.substr(0, file_.rfind('/')));
    if (!watcher_.directories().contains(folder)) watcher_.addPath(folder);
    if (!watcher_.files().contains(file)) watcher_.addPath(file);
  }

  Scheduler& scheduler_;
  std::string file_;
  std::string home_;
  const Log* log_;
  std::vector<RecentFile> files_;
  std::optional<Signature> loaded_;
  bool reading_ = false;
  bool readAgain_ = false;
  bool toldCut_ = false;
  std::map<std::uint64_t, std::function<void()>> listeners_;
  std::uint64_t lastListener_ = 0;
  QFileSystemWatcher watcher_;
  QTimer settle_;
};

namespace {

// A live query of the miner. It runs the prepared statement, runs it again after each
// burst of index events, and walks the home folder instead when the miner does not answer.
class FilesQuery : public std::enable_shared_from_this<FilesQuery> {
 public:
  using Tell = std::function<void(std::string_view)>;

  FilesQuery(std::shared_ptr<TrackerMiner> miner, Tell tellUnanswered,
             const FileIndex::Request& request, std::string home, FileIndex::Results deliver)
      : miner_(std::move(miner)),
        tellUnanswered_(std::move(tellUnanswered)),
        // The bus carries the term as a D-Bus string, which must be valid UTF-8.
        term_(unicode::utf8(unicode::scalars(request.term))),
        limit_(std::max(request.limit, 0)),
        home_(std::move(home)),
        deliver_(std::move(deliver)) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettle);
  }

  ~FilesQuery() { stop(); }

  void begin() {
    if (stopped_) return;
    switch (miner_->state()) {
      case TrackerMiner::State::connecting:
        miner_->whenSettled([weak = weak_from_this()] {
          if (const auto self = weak.lock()) self->begin();
        });
        return;
      case TrackerMiner::State::absent:
        tellUnanswered_(miner_->failure());
        walk();
        return;
      case TrackerMiner::State::ready:
        break;
    }
    listener_ = miner_->listen([weak = weak_from_this()] {
      const auto self = weak.lock();
      if (self && !self->settle_.isActive()) self->settle_.start();
    });
    QObject::connect(&settle_, &QTimer::timeout, &settle_, [weak = weak_from_this()] {
      if (const auto self = weak.lock()) self->run();
    });
    run();
  }

  void stop() {
    if (stopped_) return;
    stopped_ = true;
    g_cancellable_cancel(cancellable_.get());
    unsubscribe();
    walk_.reset();
  }

 private:
  struct Run {
    std::weak_ptr<FilesQuery> query;
    std::uint64_t number = 0;
    const TrackerLibrary* library = nullptr;
  };

  void run() {
    if (stopped_) return;
    // The bus statement copies its bindings into the call, so queries sharing it cannot
    // see each other's terms.
    const TrackerLibrary& library = miner_->library();
    TrackerSparqlStatement* statement = miner_->statement();
    library.bindString(statement, "term", term_.c_str());
    library.bindInteger(statement, "limit", limit_);
    library.execute(statement, cancellable_.get(), &FilesQuery::executed,
                    new Run{weak_from_this(), ++runs_, &library});
  }

  static void executed(GObject* source, GAsyncResult* result, gpointer data) {
    const std::unique_ptr<Run> run(static_cast<Run*>(data));
    const TrackerLibrary& library = *run->library;
    g_autoptr(GError) error = nullptr;
    // The source is the miner's statement that run() executed.
    GObjectPointer<TrackerSparqlCursor> cursor(
        library.executed(reinterpret_cast<TrackerSparqlStatement*>(source), result, &error));
    const std::shared_ptr<FilesQuery> self = run->query.lock();
    // A run that a newer one overtook would only deliver an older list.
    if (!self || self->stopped_ || run->number != self->runs_) return;
    if (!cursor) {
      self->tellUnanswered_(error != nullptr ? error->message : "");
      self->walk();
      return;
    }
    Hits hits;
    while (library.next(cursor.get(), nullptr, nullptr)) {
      const gchar* address = library.string(cursor.get(), 0, nullptr);
      g_autofree gchar* path =
          address != nullptr ? g_filename_from_uri(address, nullptr, nullptr) : nullptr;
      if (path == nullptr || !isInside(path, self->home_)) continue;
      hits.push_back({path, library.boolean(cursor.get(), 1) != FALSE});
    }
    // A copy: the receiver may stop this query while it runs.
    const FileIndex::Results deliver = self->deliver_;
    deliver(hits);
  }

  void unsubscribe() {
    miner_->forget(listener_);
    settle_.stop();
  }

  void walk() {
    unsubscribe();
    walk_ = std::make_unique<HomeWalk>(home_, fold(term_), limit_,
                                       [weak = weak_from_this()](const Hits& hits) {
                                         const auto self = weak.lock();
                                         if (!self || self->stopped_) return;
                                         const FileIndex::Results deliver = self->deliver_;
                                         deliver(hits);
                                       });
  }

  std::shared_ptr<TrackerMiner> miner_;
  Tell tellUnanswered_;
  std::string term_;
  int limit_;
  std::string home_;
  FileIndex::Results deliver_;
  GObjectPointer<GCancellable> cancellable_{g_cancellable_new()};
  std::uint64_t listener_ = 0;
  QTimer settle_;
  std::uint64_t runs_ = 0;
  bool stopped_ = false;
  std::unique_ptr<HomeWalk> walk_;
};

// Files opened since a moment, from the recent files, newest last use first; delivered
// again whenever the recent files change.
class RecentQuery : public std::enable_shared_from_this<RecentQuery> {
 public:
  RecentQuery(Scheduler& scheduler, std::shared_ptr<RecentFiles> recent,
              const FileIndex::Request& request, FileIndex::Results deliver)
      : scheduler_(scheduler),
        recent_(std::move(recent)),
        term_(fold(request.term)),
        since_(request.openedSince + kUnixTimeOf2001),
        limit_(static_cast<std::size_t>(std::max(request.limit, 0))),
        deliver_(std::move(deliver)) {}

  void begin() {
    const auto evaluate = [weak = weak_from_this()] {
      if (const auto self = weak.lock()) self->evaluate();
    };
    listener_ = recent_->listen(evaluate);
    // The first list, too, arrives from the event loop, never inside start(); one that is
    // still being read arrives when it has been.
    if (recent_->refresh()) scheduler_.post(evaluate);
  }

  void stop() {
    stopped_ = true;
    recent_->forget(listener_);
  }

 private:
  void evaluate() {
    if (stopped_) return;
    Hits hits;
    for (const RecentFile& file : recent_->files()) {
      if (file.lastUse < since_ || hits.size() >= limit_) break;
      if (file.foldedName.find(term_) == std::string::npos) continue;
      struct stat info {};
      if (::stat(file.path.c_str(), &info) != 0) continue;
      hits.push_back({file.path, S_ISDIR(info.st_mode)});
    }
    const FileIndex::Results deliver = deliver_;
    deliver(hits);
  }

  Scheduler& scheduler_;
  std::shared_ptr<RecentFiles> recent_;
  std::string term_;
  double since_;
  std::size_t limit_;
  FileIndex::Results deliver_;
  std::uint64_t listener_ = 0;
  bool stopped_ = false;
};

}  // namespace

TrackerFileIndex::TrackerFileIndex(Scheduler& scheduler, Setup setup)
    : scheduler_(scheduler),
      home_(withoutTrailingSlash(setup.home.empty() ? environmentHome() : setup.home)),
      service_(setup.service),
      recent_(std::make_shared<RecentFiles>(
          scheduler, setup.recentFiles.empty() ? defaultRecentFiles() : setup.recentFiles, home_,
          setup.log)),
      tellUnanswered_([log = setup.log, service = setup.service,
                       told = std::make_shared<bool>(false)](std::string_view reason) {
        if (log == nullptr || *told) return;
        *told = true;
        log->write("Dateiindex: " + service + " antwortet nicht (" + std::string(reason) +
                   "); Dateien werden im Persönlichen Ordner gesucht");
      }) {
  recent_->refresh();
}

TrackerFileIndex::~TrackerFileIndex() = default;

std::unique_ptr<FileIndex::Query> TrackerFileIndex::start(const Request& request, Results deliver) {
  if (request.openedOnly) {
    auto query = std::make_shared<RecentQuery>(scheduler_, recent_, request, std::move(deliver));
    query->begin();
    return std::make_unique<Running<RecentQuery>>(std::move(query));
  }
  if (!miner_) miner_ = TrackerMiner::of(service_);
  auto query =
      std::make_shared<FilesQuery>(miner_, tellUnanswered_, request, home_, std::move(deliver));
  query->begin();
  return std::make_unique<Running<FilesQuery>>(std::move(query));
}

}  // namespace varek
