// The content fingerprint: the lowercase hexadecimal SHA-1 of a file's bytes.
#pragma once

#include <string>

namespace velarix {

// 40 lowercase hexadecimal digits. Throws Error "Cannot open file \"<path>\". <reason>" when the
// file cannot be opened and "Stream read error" when it shrinks or a read fails.
std::string CalculaHash(const std::string& path);

}  // namespace velarix
