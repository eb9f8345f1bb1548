// How Windows path names map onto this file system: drive C: is the Wine
// prefix's drive_c, where the installed Windows program runs here; backslashes
// become slashes; relative names stay relative to the current directory.
#pragma once

#include <cstdint>
#include <string>

namespace posixport {

std::string NativePath(const std::wstring& windowsPath);
std::string Utf8(const std::wstring& s);
std::wstring Wide(const std::string& utf8);
// errno as the Windows error code callers test.
std::uint32_t WinError(int err);
// As WinError, but a missing parent folder is "path not found" (3), as on Windows.
std::uint32_t WinErrorForPath(int err, const std::string& path);

}  // namespace posixport
