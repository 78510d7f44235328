// The settings file: thirteen folder paths in section DATA and the portal's base URL in
// section WEBSERVICE. Every call reads or writes the file on disk; nothing is cached.
#pragma once

#include <array>
#include <string>

namespace velarix {

using FolderSettings = std::array<std::string, 13>;  // in WatchedFolders order

// The base URL used when the file gives none.
inline constexpr char kDefaultBaseUrl[] = "http://portal.tessaly.com.br/";

// The settings file's full path: the executable's path with its extension replaced by ".ini",
// unless SetSettingsFilePath chose another file.
std::string SettingsFilePath();
// Points every settings operation at path instead (tests); an empty path restores the default.
void SetSettingsFilePath(const std::string& path);

// The value of key in section DATA, or the empty text. Never fails.
std::string ReadFolderSetting(const std::string& key);
// ReadFolderSetting for every row of WatchedFolders.
FolderSettings LoadFolderSettings();
// The value of Url in section WEBSERVICE, or kDefaultBaseUrl. Never fails.
std::string ReadBaseUrl();
// Writes the thirteen values under their keys in section DATA, in table order, each exactly as
// given. Throws Error "Unable to write to <path>" at the first key that cannot be written (the
// file cannot be replaced, or the value holds a line break); keys before it keep their new
// values, that key and the ones after it their old ones.
void SaveFolderSettings(const FolderSettings& values);

}  // namespace velarix
