#include "kit/src/outcome.h"

#include "platform/text.h"

namespace kit {
namespace {

std::string Joined(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : "; ") + i;
    return out;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

std::string Escaped(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) out += c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
    return text::ToUtf8(out);
}

void Check::Equal(const std::wstring& got, const std::wstring& wanted, const std::string& what) {
    if (got != wanted) failures_.push_back(what + ": expected \"" + Escaped(wanted) + "\", saw \"" + Escaped(got) + "\"");
}

// A failure outweighs what could not be checked, and that outweighs a skip:
// no unread check hides behind a scenario's skip or pass.
std::string Tally::Count(const Check& c, const std::string& skippedWhy) {
    if (!c.failures_.empty()) {
        ++failed;
        const auto unread = c.inconclusive_.empty() ? std::vector<std::string>{}
                                                    : std::vector<std::string>{"not checked: " + Joined(c.inconclusive_)};
        return "FAIL: " + Joined(c.failures_ + c.notes_ + unread);
    }
    if (!c.inconclusive_.empty()) {
        ++inconclusive;
        return "inconclusive: " + Joined(c.inconclusive_ + c.notes_);
    }
    if (!skippedWhy.empty()) {
        ++skipped;
        return "skipped: " + skippedWhy;
    }
    ++passed;
    const auto parts = c.skippedParts_.empty() ? std::vector<std::string>{}
                                               : std::vector<std::string>{"skipped: " + Joined(c.skippedParts_)};
    const auto said = c.notes_ + parts;
    return said.empty() ? "ok" : "ok (" + Joined(said) + ")";
}

std::string Tally::Summary() const {
    return std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " + std::to_string(skipped) +
           " skipped, " + std::to_string(inconclusive) + " inconclusive";
}

int Tally::Status(bool completed) const {
    if (failed > 0 || !completed) return kSomethingFailed;
    return inconclusive > 0 ? kInconclusive : kNothingFailed;
}

}  // namespace kit
