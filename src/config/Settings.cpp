#include "config/Settings.h"

#include <mutex>

#include "config/IniFile.h"
#include "config/WatchedFolders.h"
#include "platform/Env.h"
#include "platform/Error.h"

namespace velarix {

namespace {

constexpr char kDataSection[] = "DATA";
constexpr char kWebServiceSection[] = "WEBSERVICE";
constexpr char kUrlKey[] = "Url";

std::mutex path_mutex;
std::string path_override;  // guarded by path_mutex

std::string DefaultSettingsFilePath() {
  std::string path = Env::Current()->ExecutablePath();
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.resize(dot);
  return path + ".ini";
}

}  // namespace

std::string SettingsFilePath() {
  {
    std::lock_guard<std::mutex> lock(path_mutex);
    if (!path_override.empty()) return path_override;
  }
  return DefaultSettingsFilePath();
}

void SetSettingsFilePath(const std::string& path) {
  std::lock_guard<std::mutex> lock(path_mutex);
  path_override = path;
}

std::string ReadFolderSetting(const std::string& key) {
  return IniFile(SettingsFilePath()).ReadString(kDataSection, key, "");
}

FolderSettings LoadFolderSettings() {
  FolderSettings values;
  for (size_t i = 0; i < WatchedFolders.size(); ++i) {
    values[i] = ReadFolderSetting(WatchedFolders[i].key);
  }
  return values;
}

std::string ReadBaseUrl() {
  return IniFile(SettingsFilePath()).ReadString(kWebServiceSection, kUrlKey, kDefaultBaseUrl);
}

void SaveFolderSettings(const FolderSettings& values) {
  IniFile file(SettingsFilePath());
  for (size_t i = 0; i < WatchedFolders.size(); ++i) {
    // Each key is a whole-file replace of its own, so a failure leaves the keys before it
    // saved and the file itself never half-written.
    if (file.WriteString(kDataSection, WatchedFolders[i].key, values[i]) != 0) {
      throw Error("Unable to write to " + file.path());
    }
  }
}

}  // namespace velarix
