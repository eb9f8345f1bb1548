// The HKCU key whose "Desktop" value Setup reads, and the kit and the Wine
// lab set: one spelling for all (Setup's own, which the lab's registry trace matches).
#pragma once

inline constexpr wchar_t kShellFoldersKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
