#include "platform/linux/json_defaults.h"

#include <sys/stat.h>

#include <QByteArray>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include "sources/private_file.h"

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

struct JsonDefaults::Values {
  nlohmann::json object = nlohmann::json::object();

  const nlohmann::json* find(const std::string& key) const {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
  }
};

JsonDefaults::JsonDefaults(std::string file)
    : file_(std::move(file)), values_(std::make_unique<Values>()) {
  std::string bytes;
  switch (PrivateFile::read(file_, bytes)) {
    case PrivateFile::ReadResult::missing:
      return;
    case PrivateFile::ReadResult::failed:
      setAsidePending_ = true;
      return;
    case PrivateFile::ReadResult::read:
      break;
  }
  nlohmann::json parsed = nlohmann::json::parse(bytes, nullptr, false);
  if (parsed.is_object()) {
    values_->object = std::move(parsed);
  } else {
    setAsidePending_ = true;
  }
}

JsonDefaults::~JsonDefaults() = default;

std::optional<std::string> JsonDefaults::data(const std::string& key) const {
  const nlohmann::json* value = values_->find(key);
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

void JsonDefaults::setData(const std::string& key, const std::string& bytes) {
  const QByteArray encoded =
      QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())).toBase64();
  values_->object[key] = {{kDataMember, encoded.toStdString()}};
  save();
}

std::optional<bool> JsonDefaults::boolean(const std::string& key) const {
  const nlohmann::json* value = values_->find(key);
  if (!value || !value->is_boolean()) return std::nullopt;
  return value->get<bool>();
}

void JsonDefaults::setBoolean(const std::string& key, bool value) {
  values_->object[key] = value;
  save();
}

std::optional<std::string> JsonDefaults::string(const std::string& key) const {
  const nlohmann::json* value = values_->find(key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

void JsonDefaults::setString(const std::string& key, const std::string& value) {
  values_->object[key] = value;
  save();
}

void JsonDefaults::save() {
  createFolder(std::filesystem::path(file_).parent_path());
  // Keys and texts are meant to be UTF-8; a stray invalid byte becomes U+FFFD rather
  // than losing every other setting with the write.
  const std::string bytes =
      values_->object.dump(kIndent, ' ', false, nlohmann::json::error_handler_t::replace);
  if (PrivateFile::write(file_, bytes, {.setAsideFirst = setAsidePending_})) {
    setAsidePending_ = false;
  }
}

}  // namespace varek
