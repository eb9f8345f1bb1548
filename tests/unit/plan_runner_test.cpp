// The plan runner alone, with a recording sequence, and the texts and names it composes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "app/Errors.h"
#include "app/InstallPlan.h"
#include "app/PlanRunner.h"
#include "app/Unit1.h"
#include "platform/posix/paths.h"
#include "tests/unit/test_support.h"

namespace {

using namespace testing_support;

// The runner alone, with a sequence that records its steps: no window, no
// process-wide state. The sequence's steps come in the plan's order, and
// what each step sees on disk shows where in the plan it ran.
class Recorder final : public SequenceSteps {
public:
    explicit Recorder(const Sandbox& box) : box_(box) {}
    void ReadLanguage() override { Note("read-language"); }
    void DetectOutcome() override { Note("detect-outcome"); }
    void ClickRegister() override { Note("click-register"); }
    void ReportIncomplete(const FailureReport& r) override {
        Note("report-incomplete");
        report = r;
        throw Exception(L"incomplete");
    }
    void ReportNoLock(std::uint32_t) override { Note("report-no-lock"); }
    void ShowCompletion() override { Note("show-completion"); }
    void Terminate() override { Note("terminate"); }
    std::wstring DesktopPath(const std::wstring& name) override {
        return posixport::Wide(box_.Desktop("")) + name.substr(1);
    }
    int Language() const override { return 2; }
    std::vector<std::string> calls;
    FailureReport report;

private:
    // Each call with whether the program folder and the language file were there by then.
    void Note(const std::string& step) {
        calls.push_back(step + (Exists(box_.C("Orvo_Tool")) ? " folder" : "") +
                        (Exists(box_.C("Orvo_Tool/dLangv.dat")) ? " language" : ""));
    }
    const Sandbox& box_;
};

TEST(PlanRunner, RunsTheSequenceStepsInOrderAndCountsWithoutGlobalState) {
    Sandbox box;
    WriteDistribution(1);
    Recorder sequence(box);
    PlanRunner runner;
    runner.Run(InstallPlan(), sequence);
    EXPECT_EQ(sequence.calls,
              (std::vector<std::string>{"read-language", "detect-outcome folder", "click-register folder language",
                                        "show-completion folder language", "terminate folder language"}));
    EXPECT_EQ(runner.Report().failures, 0);
    runner.Run(DesktopPlan(), sequence);
    EXPECT_TRUE(Exists(box.Desktop("Orvo Tool DE.pdf")));  // the sequence's language, not Languagem
    EXPECT_TRUE(Exists(box.C("Orvo_Tool/Orvo Dustrel.exe")));

    ::unlink(box.Dist("Data/QKV.txt").c_str());
    ::unlink(box.C("Orvo_Tool Data/DBZ/QKV.txt").c_str());
    sequence.calls.clear();
    runner.Reset();
    EXPECT_THROW(runner.Run(InstallPlan(), sequence), Exception);
    EXPECT_EQ(sequence.calls.back(), "report-incomplete folder language");  // no completion box, no quit
    EXPECT_EQ(sequence.report.failures, 1);
    EXPECT_EQ(sequence.report.firstTarget, L"C:\\Orvo_Tool Data\\DBZ\\QKV.txt");
    EXPECT_EQ(sequence.report.failedSource, L"Data\\QKV.txt");
    EXPECT_EQ(sequence.report.firstError, static_cast<std::uint32_t>(ENOENT));  // taken where the copy failed
    EXPECT_FALSE(sequence.report.noSourceFound);
}

// The first line names the target; the second names the source only when it
// was missing, and a code of 0 is no reason to show.
TEST(IncompleteMessage, NamesTheSideThatFailedAndNoReasonWithoutACode) {
    Sandbox box;
    WriteDistribution(1);
    Languagem = 1;
    const std::wstring first =
        L"Installation incomplete: 1 file(s) could not be installed (first: C:\\Orvo_Tool Data\\DBZ\\QKV.txt)";
    const struct {
        const wchar_t* failedSource;
        std::uint32_t error;
        std::wstring text;
    } cases[] = {
        {L"Data\\QKV.txt", ENOENT, first + L"\nData\\QKV.txt: No such file or directory"},
        {L"", EACCES, first + L"\nPermission denied"},
        {L"", 0, first},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IncompleteMessage({1, L"C:\\Orvo_Tool Data\\DBZ\\QKV.txt", c.failedSource, c.error, false}), c.text);
}

TEST(DisplayName, KeepsNamesUpToMaxPathAndShortensLongerOnes) {
    const std::wstring fits(260, L'a');
    EXPECT_EQ(DisplayName(fits), fits);
    const std::wstring longer = L"C:\\" + std::wstring(300, L'b') + L"\\Orvo Tool.lnk";
    const std::wstring shown = DisplayName(longer);
    EXPECT_EQ(shown.size(), 123u);
    EXPECT_EQ(shown.substr(0, 60), longer.substr(0, 60));
    EXPECT_EQ(shown.substr(60, 3), L"...");
    EXPECT_EQ(shown.substr(63), longer.substr(longer.size() - 60));

    // A surrogate pair at either cut is never split: the half pair goes with its other half.
    const std::wstring pair = L"\xD83D\xDCC4";
    const std::wstring astral = std::wstring(59, L'c') + pair + std::wstring(200, L'd') + pair + std::wstring(59, L'e');
    const std::wstring cut = DisplayName(astral);
    EXPECT_EQ(cut, std::wstring(59, L'c') + L"..." + std::wstring(59, L'e'));
}

TEST(LanguagePdf, FollowsTheLanguageCode) {
    EXPECT_STREQ(LanguagePdf(0), L"Orvo Tool CZ.pdf");
    EXPECT_STREQ(LanguagePdf(1), L"Orvo Tool EN.pdf");
    EXPECT_STREQ(LanguagePdf(2), L"Orvo Tool DE.pdf");
    for (int code : {3, 4, 7, 1 << 30}) EXPECT_STREQ(LanguagePdf(code), L"Orvo Tool EN.pdf");
    for (int code : {-1, -7, INT32_MIN}) EXPECT_EQ(LanguagePdf(code), nullptr);
}

}  // namespace
