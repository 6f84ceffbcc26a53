#include "platform/linux/json_defaults.h"

#include <sys/stat.h>

#include <QByteArray>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include "platform/private_file.h"

namespace varek {
namespace {

// Settings hold the learning store (what the user searched and picked): the folder is
// for the owner only, like the file.
constexpr mode_t kFolderMode = 0700;
// The member of the object that wraps a byte value.
constexpr const char* kDataMember = "data";
// Indented, so a user who opens the file can read and edit it.
constexpr int kIndent = 2;

void createFolder(const std::filesystem::path& folder) {
  std::error_code ignored;
  if (std::filesystem::is_directory(folder, ignored)) return;
  std::filesystem::create_directories(folder.parent_path(), ignored);
  // mkdir with the final mode leaves no moment in which others could look inside; the
  // chmod undoes a umask that took the owner's own bits away.
  if (::mkdir(folder.c_str(), kFolderMode) == 0) ::chmod(folder.c_str(), kFolderMode);
}

}  // namespace

// The values as one JSON object; also the store handed to a change inside update().
class JsonDefaults::Values : public Defaults {
 public:
  std::optional<std::string> data(const std::string& key) const override {
    const nlohmann::json* value = find(key);
    if (!value || !value->is_object()) return std::nullopt;
    const auto encoded = value->find(kDataMember);
    if (encoded == value->end() || !encoded->is_string()) return std::nullopt;
    const std::string& text = encoded->get_ref<const std::string&>();
    const auto decoded =
        QByteArray::fromBase64Encoding(QByteArray::fromRawData(text.data(), qsizetype(text.size())),
                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    return decoded.decoded.toStdString();
  }
  void setData(const std::string& key, const std::string& bytes) override {
    const QByteArray encoded =
        QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())).toBase64();
    object[key] = {{kDataMember, encoded.toStdString()}};
  }
  std::optional<bool> boolean(const std::string& key) const override {
    const nlohmann::json* value = find(key);
    if (!value || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
  }
  void setBoolean(const std::string& key, bool value) override { object[key] = value; }
  std::optional<std::string> string(const std::string& key) const override {
    const nlohmann::json* value = find(key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
  }
  void setString(const std::string& key, const std::string& value) override { object[key] = value; }
  void update(const std::function<void(Defaults&)>& change) override { change(*this); }

  nlohmann::json object = nlohmann::json::object();

 private:
  const nlohmann::json* find(const std::string& key) const {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
  }
};

struct JsonDefaults::State {
  // The file's values, plus changes whose write failed.
  Values values;
  // The file as last read or written here; a change compares it with the file under the
  // lock, as stamps alone could miss a quick rewrite of the same size.
  PrivateFile::ReadResult found = PrivateFile::ReadResult::missing;
  std::string bytes;
  std::optional<PrivateFile::Stamp> stamp;
  // The file holds no JSON object; the next write moves it aside first.
  bool unreadable = false;

  void load(PrivateFile::ReadResult result, std::string content) {
    values.object = nlohmann::json::object();
    nlohmann::json parsed = nlohmann::json::parse(content, nullptr, false);
    unreadable = result == PrivateFile::ReadResult::failed ||
                 (result == PrivateFile::ReadResult::read && !parsed.is_object());
    if (parsed.is_object()) values.object = std::move(parsed);
    found = result;
    bytes = std::move(content);
  }
};

JsonDefaults::JsonDefaults(std::string file)
    : file_(std::move(file)), state_(std::make_unique<State>()) {
  PrivateFile::removeStaleTemporaries(file_);
  refresh();
}

JsonDefaults::~JsonDefaults() = default;

void JsonDefaults::refresh() const {
  std::optional<PrivateFile::Stamp> stamp = PrivateFile::stamp(file_);
  if (stamp == state_->stamp) return;
  state_->stamp = stamp;
  std::string bytes;
  const PrivateFile::ReadResult found = PrivateFile::read(file_, bytes);
  if (found != PrivateFile::ReadResult::read) bytes.clear();
  if (found != state_->found || bytes != state_->bytes) state_->load(found, std::move(bytes));
}

std::optional<std::string> JsonDefaults::data(const std::string& key) const {
  refresh();
  return state_->values.data(key);
}

void JsonDefaults::setData(const std::string& key, const std::string& bytes) {
  update([&](Defaults& stored) { stored.setData(key, bytes); });
}

std::optional<bool> JsonDefaults::boolean(const std::string& key) const {
  refresh();
  return state_->values.boolean(key);
}

void JsonDefaults::setBoolean(const std::string& key, bool value) {
  update([&](Defaults& stored) { stored.setBoolean(key, value); });
}

std::optional<std::string> JsonDefaults::string(const std::string& key) const {
  refresh();
  return state_->values.string(key);
}

void JsonDefaults::setString(const std::string& key, const std::string& value) {
  update([&](Defaults& stored) { stored.setString(key, value); });
}

void JsonDefaults::update(const std::function<void(Defaults&)>& change) {
  createFolder(std::filesystem::path(file_).parent_path());
  State& state = *state_;
  const PrivateFile::Update done = PrivateFile::update(file_, [&](PrivateFile::Update& file) {
    if (file.found != state.found || file.bytes != state.bytes) {
      state.load(file.found, std::move(file.bytes));
    }
    change(state.values);
    // Keys and texts are meant to be UTF-8; a stray invalid byte becomes U+FFFD rather
    // than losing every other setting with the write.
    file.replacement =
        state.values.object.dump(kIndent, ' ', false, nlohmann::json::error_handler_t::replace);
    file.setAsideFirst = state.unreadable;
  });
  if (!done.written) return;
  state.found = PrivateFile::ReadResult::read;
  state.bytes = *done.replacement;
  state.stamp = done.stamp;
  state.unreadable = false;
}

}  // namespace varek
