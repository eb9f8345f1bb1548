// The runner on the documented file model: the plans' targets, the sequence, one install, sources and temporaries.
#include "tests/unit/publish_model.h"

#include <gtest/gtest.h>

#include "app/Errors.h"
#include "app/InstallPlan.h"

namespace testing_support {
namespace {

constexpr int kLanguage = 1;

// The steps that are not file operations; the desktop plan runs as the
// Register button runs it. No box may be shown while the lock is held.
class ModelSequence final : public SequenceSteps {
public:
    ModelSequence(PlanRunner& runner, DocumentedFiles& files) : runner_(runner), files_(files) {}
    void ReadLanguage() override {}
    void DetectOutcome() override {}
    void ClickRegister() override { runner_.Run(DesktopPlan(), *this); }
    void ReportIncomplete(const FailureReport& r) override {
        EXPECT_FALSE(files_.locked) << "the error box shown while the lock is held";
        report = r;
        throw Exception(L"incomplete");
    }
    void ReportNoLock(std::uint32_t error) override {
        EXPECT_FALSE(files_.locked) << "the lock's error box shown while the lock is held";
        noLock = error;
        throw Exception(L"no lock");
    }
    void ShowCompletion() override { EXPECT_FALSE(files_.locked) << "the completion box shown while the lock is held"; }
    void Terminate() override {}
    std::wstring DesktopPath(const std::wstring& name) override { return kDesktop + name; }
    int Language() const override { return kLanguage; }
    FailureReport report;
    std::uint32_t noLock = 0;

private:
    PlanRunner& runner_;
    DocumentedFiles& files_;
};

}  // namespace

// Every file the two plans write, with the desktop where the model keeps it.
std::vector<Target> Targets() {
    std::vector<Target> out;
    for (const Plan* plan : {&InstallPlan(), &DesktopPlan()})
        for (const Step& step : *plan) {
            if (step.op == Op::Copy || step.op == Op::CopyKept) out.push_back({step.source, step.target, step.op == Op::CopyKept});
            if (step.op == Op::CopyToDesktop) out.push_back({step.source, kDesktop + step.target, false});
            if (step.op == Op::CopyLanguagePdf)
                out.push_back({LanguagePdf(kLanguage), kDesktop + L"\\" + LanguagePdf(kLanguage), false});
        }
    return out;
}

FailureReport Install(DocumentedFiles& files, std::uint32_t* noLock) {
    PlanRunner runner(files);
    ModelSequence sequence(runner, files);
    const int unlocked = files.unlockedCalls;
    try {
        runner.Install(InstallPlan(), sequence);
    } catch (const Exception&) {
    } catch (const testing_support::Crash&) {
        EXPECT_EQ(files.unlockedCalls, unlocked) << "the disk changed without the lock";
        throw;
    }
    EXPECT_FALSE(files.locked) << "the lock outlives the run";
    EXPECT_EQ(files.unlockedCalls, unlocked) << "the disk changed without the lock";
    if (noLock) *noLock = sequence.noLock;
    return sequence.report;
}

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }  // the plan's names are ASCII
std::string New(const std::wstring& source) { return "new " + Narrow(source); }

void PutSources(DocumentedFiles& files, const std::string& prefix, bool readOnlyAndMarked) {
    for (const Target& t : Targets())
        files.Put(t.source, prefix + " " + Narrow(t.source), readOnlyAndMarked, readOnlyAndMarked);
}

std::string Temporaries(const DocumentedFiles& files) {
    const std::wstring suffix = TemporaryName(L"");
    std::string found;
    for (const auto& [name, file] : files.files)
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            found += Narrow(name) + " ";
    return found;
}

}  // namespace testing_support
