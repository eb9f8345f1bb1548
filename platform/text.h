// Text services whose exact results depend on the platform's character tables.
#pragma once

#include <string>

namespace text {

std::wstring LowerCase(std::wstring s);

// Malformed UTF-8 and lone surrogates become U+FFFD.
std::wstring FromUtf8(const std::string& utf8);
std::string ToUtf8(const std::wstring& wide);

}  // namespace text
