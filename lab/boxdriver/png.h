// A PNG writer with stored deflate blocks, so no compression library is needed.
#pragma once

#include <string>
#include <vector>

namespace boxdriver {

// `rgb` holds w * h pixels, three bytes each, top row first.
bool WritePng(const std::wstring& path, int w, int h, const std::vector<unsigned char>& rgb);

}  // namespace boxdriver
