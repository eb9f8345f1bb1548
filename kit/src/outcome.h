// One scenario's account and the run's counts. A check counts as passed only
// when it was made and held; what could not be read or performed says so.
#pragma once

#include <string>
#include <vector>

namespace kit {

class Check {
public:
    void Expect(bool ok, const std::string& what) {
        if (!ok) failures_.push_back(what);
    }
    void Equal(const std::wstring& got, const std::wstring& wanted, const std::string& what);
    // A check the kit should have been able to make, but could not read or perform.
    void Inconclusive(const std::string& what) { Once(inconclusive_, what); }
    // A part this system is known not to allow, with the reason, said before it is reached.
    void SkipPart(const std::string& what) { Once(skippedParts_, what); }
    void Note(const std::string& what) { notes_.push_back(what); }  // shown in the scenario's line
    const std::vector<std::string>& failures() const { return failures_; }
    const std::vector<std::string>& inconclusive() const { return inconclusive_; }

private:
    friend struct Tally;
    // Said once however many of the scenario's runs met it.
    static void Once(std::vector<std::string>& list, const std::string& what) {
        for (const auto& w : list)
            if (w == what) return;
        list.push_back(what);
    }
    std::vector<std::string> failures_, inconclusive_, skippedParts_, notes_;
};

// The kit's exit statuses; docs/check-kit.md lists them.
enum ExitStatus {
    kNothingFailed = 0,
    kSomethingFailed = 1,  // or the kit stopped: interrupted, or the machine could not be restored
    kNotStarted = 2,
    kKitError = 3,         // an error of the kit's own ended it
    kInconclusive = 4,     // nothing failed, but something could not be checked
};

struct Tally {
    int passed = 0, failed = 0, skipped = 0, inconclusive = 0;

    // The scenario's verdict after its name ("ok", "FAIL: ...", "skipped: ...",
    // "inconclusive: ..."), counted. `skippedWhy`: the whole scenario was skipped.
    std::string Count(const Check& check, const std::string& skippedWhy);
    std::string Summary() const;
    int Status(bool completed) const;
};

std::string Escaped(const std::wstring& text);  // UTF-8, a line break as \n

}  // namespace kit
