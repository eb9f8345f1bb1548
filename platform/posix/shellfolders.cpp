// The freedesktop user-dirs file stands in for the Shell Folders key:
// $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config/user-dirs.dirs), entry
// XDG_DESKTOP_DIR="...", shell-quoted, with $HOME expanded.
#include "platform/shellfolders.h"
#include "platform/posix/userdirs.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "platform/posix/paths.h"

namespace shellfolders {
namespace {

unsigned long g_lookups = 0;

std::string UserDirsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config) return std::string(config) + "/user-dirs.dirs";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config/user-dirs.dirs";
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// A double-quoted shell word with \-escapes; false when it is anything else.
bool Unquote(const std::string& word, std::string& out) {
    if (word.size() < 2 || word.front() != '"' || word.back() != '"') return false;
    out.clear();
    for (std::size_t i = 1; i + 1 < word.size(); ++i) {
        char c = word[i];
        if (c == '"') return false;
        if (c == '\\') {
            if (i + 2 >= word.size()) return false;
            c = word[++i];
        }
        out += c;
    }
    return true;
}

std::string ExpandHome(const std::string& value) {
    const std::string var = "$HOME";
    if (value.compare(0, var.size(), var) != 0) return value;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + value.substr(var.size());
}

}  // namespace

DesktopLookup ParseUserDirs(const std::string& content) {
    const std::string key = "XDG_DESKTOP_DIR=";
    std::istringstream lines(content);
    std::string line, word;
    bool found = false;
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (line.compare(0, key.size(), key) != 0) continue;
        word = Trim(line.substr(key.size()));  // the last assignment wins, as in the shell
        found = true;
    }
    if (!found) return {Status::Missing, L""};
    std::string value;
    if (!Unquote(word, value)) return {Status::InvalidType, L""};
    value = ExpandHome(value);
    if (value.empty()) return {Status::Missing, L""};
    return {Status::Found, posixport::Wide(value)};
}

DesktopLookup ReadDesktopFolder() {
    ++g_lookups;
    std::ifstream file(UserDirsPath(), std::ios::binary);
    if (!file) return {Status::KeyMissing, L""};
    const std::string content{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) return {Status::KeyMissing, L""};
    return ParseUserDirs(content);
}

unsigned long LookupCount() { return g_lookups; }

}  // namespace shellfolders
