#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <set>

#include "app/Errors.h"
#include "app/Texts.h"
#include "app/Unit1.h"
#include "tests/unit/test_support.h"

namespace {

using namespace testing_support;

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s += static_cast<char>(c);
    return s;
}

class Language : public ::testing::Test {
protected:
    void SetUp() override {
        Languagem = 0;
        instal = upgrade = false;
    }
    // The error text ReadLanguage raises, or "" when it succeeds.
    static std::wstring ReadError() {
        try {
            ReadLanguage();
            return L"";
        } catch (...) {
            return ErrorBoxText(std::current_exception());
        }
    }
    Sandbox box_;
};

TEST(CompletionTable, HasBothKindsForEveryLanguageAndNothingElse) {
    for (int code = 0; code < kLanguageCount; ++code) {
        EXPECT_NE(CompletionTableEntry(code, mkInstallationCompleted), nullptr) << code;
        EXPECT_NE(CompletionTableEntry(code, mkUpgradeCompleted), nullptr) << code;
        for (int kind : {0, 2, 4, -1}) EXPECT_EQ(CompletionTableEntry(code, kind), nullptr);
    }
    for (int code : {-1, 5, 7, 1 << 30}) EXPECT_EQ(CompletionTableEntry(code, 1), nullptr);
}

// Each line has its placeholders in the order the message fills them, and a
// code outside the table speaks English.
TEST(IncompleteText, EveryLanguageHasEachLineAndOtherCodesFallBackToEnglish) {
    const struct {
        IncompleteLine line;
        const wchar_t* placeholders;
    } lines[] = {{IncompleteLine::Failures, L"%d%s"},
                 {IncompleteLine::WrongFolder, L"%s"},
                 {IncompleteLine::FilesAreIn, L"%s"}};
    for (const auto& l : lines) {
        std::set<std::wstring> distinct;
        for (int code = 0; code < kLanguageCount; ++code) {
            const wchar_t* text = IncompleteText(code, l.line);
            ASSERT_NE(text, nullptr) << code;
            std::wstring found;
            for (const wchar_t* p = text; *p; ++p)
                if (p[0] == L'%') found += std::wstring(p, 2);
            EXPECT_EQ(found, l.placeholders) << code;
            distinct.insert(text);
        }
        EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kLanguageCount));
        for (int code : {-1, 5, 7, INT32_MIN}) EXPECT_EQ(IncompleteText(code, l.line), IncompleteText(1, l.line));
    }
    EXPECT_STREQ(IncompleteText(1, IncompleteLine::Failures),
                 L"Installation incomplete: %d file(s) could not be installed (first: %s)");
    // The system's reasons in the same language: cs-CZ, en-US, de-DE, sv-SE, ru-RU.
    const std::uint16_t ids[] = {0x0405, 0x0409, 0x0407, 0x041D, 0x0419};
    for (int code = 0; code < kLanguageCount; ++code) EXPECT_EQ(LanguageId(code), ids[code]) << code;
    for (int code : {-1, 5, INT32_MIN}) EXPECT_EQ(LanguageId(code), 0x0409) << code;
}

// The box ends its text with a period; after a folder it would read as part
// of the path ("C:\."), so every folder stands in quotation marks.
TEST(IncompleteText, TheFinalPeriodNeverFollowsAFolder) {
    const std::wstring here = L"C:\\", own = L"D:\\dist";
    for (int code = 0; code < kLanguageCount; ++code) {
        const std::wstring single = Format(IncompleteText(code, IncompleteLine::WrongFolder), {here});
        const std::wstring both = single + Format(IncompleteText(code, IncompleteLine::FilesAreIn), {own});
        for (const std::wstring& line : {single, both}) {
            const std::wstring shown = WithFinalPeriod(line);
            for (const std::wstring& folder : {here, own}) {
                const auto at = shown.find(folder);
                if (at == std::wstring::npos) continue;
                const wchar_t after = shown[at + folder.size()];
                EXPECT_TRUE(after == L'”' || after == L'“' || after == L'»') << code << " after " << folder.size();
            }
            EXPECT_EQ(shown.back(), L'.') << code;
        }
        EXPECT_NE(both.find(own), std::wstring::npos) << code;
    }
}

TEST(CompletionMessageText, IsVerbatimForEachLanguageAndEmptyOutsideTheTable) {
    const struct {
        int code;
        const wchar_t* installation;
        const wchar_t* upgradeText;
    } expected[] = {
        {0, L"Instalace dokončena", L"Upgrade dokončeno."},
        {1, L"Instaltion completed.", L"Upgrade ready."},
        {2, L"Installation ist fertig.", L"Upgrade ist fertig."},
        {3, L"Installation är klar.", L"Uppgradera är klar."},
        {4, L"Установка завершено.", L"Обновление завершено."},
    };
    for (const auto& e : expected) {
        Languagem = e.code;
        EXPECT_EQ(CompletionMessageText(1), e.installation);
        EXPECT_EQ(CompletionMessageText(3), e.upgradeText);
        EXPECT_EQ(CompletionMessageText(2), L"");
    }
    for (int code : {-1, 5, 7}) {
        Languagem = code;
        EXPECT_EQ(CompletionMessageText(1), L"");
        EXPECT_EQ(CompletionMessageText(3), L"");
    }
}

TEST_F(Language, NoFileMeansCzech) {
    Languagem = 3;
    EXPECT_EQ(ReadError(), L"");
    EXPECT_EQ(Languagem, 0);
}

TEST_F(Language, ReadsTheFirstFourBytesLittleEndian) {
    const struct {
        std::string bytes;
        int code;
    } cases[] = {
        {Bytes({1, 0, 0, 0}), 1},        {Bytes({2, 0, 0, 0, 7}), 2},
        {Bytes({1, 2, 0, 0}), 0x201},    {Bytes({0xFF, 0xFF, 0xFF, 0xFF}), -1},
        {Bytes({7, 0, 0, 0, 1, 2, 3, 4}), 7}, {Bytes({0, 0, 0, 0x80}), INT32_MIN},
    };
    for (const auto& c : cases) {
        WriteFile(box_.Dist("dLangv.dat"), c.bytes);
        EXPECT_EQ(ReadError(), L"");
        EXPECT_EQ(Languagem, c.code);
        EXPECT_FALSE(SoubLnguag.IsOpen());
    }
}

TEST_F(Language, AFileShorterThanARecordIsAnErrorAndIsClosed) {
    for (std::size_t n = 0; n < 4; ++n) {
        WriteFile(box_.Dist("dLangv.dat"), std::string(n, '\1'));
        EXPECT_EQ(ReadError(), L"Read beyond end of file.") << n;
        EXPECT_FALSE(SoubLnguag.IsOpen());
    }
}

TEST_F(Language, TheInstalledCopyDecidesOverTheDistributions) {
    WriteFile(box_.Dist("dLangv.dat"), Bytes({1, 0, 0, 0}));
    WriteFile(box_.C("Orvo_Tool/dLangv.dat"), Bytes({2, 0, 0, 0}));
    EXPECT_EQ(ReadError(), L"");
    EXPECT_EQ(Languagem, 2);
    // A broken installed copy is not passed over for the distribution's.
    WriteFile(box_.C("Orvo_Tool/dLangv.dat"), Bytes({2}));
    EXPECT_EQ(ReadError(), L"Read beyond end of file.");
}

TEST_F(Language, AFolderNamedLikeTheFileIsNoLanguageFile) {
    MakeDirs(box_.Dist("dLangv.dat"));
    Languagem = 4;
    EXPECT_EQ(ReadError(), L"");
    EXPECT_EQ(Languagem, 0);
}

TEST_F(Language, AReadOnlyFileIsReadAndAnUnreadableOneIsDenied) {
    WriteFile(box_.Dist("dLangv.dat"), Bytes({3, 0, 0, 0}));
    ::chmod(box_.Dist("dLangv.dat").c_str(), 0444);
    const int readOnly = RunUnprivileged([] {
        try {
            ReadLanguage();
            return Languagem;
        } catch (...) {
            return 100;
        }
    });
    EXPECT_EQ(readOnly, 3);
    ::chmod(box_.Dist("dLangv.dat").c_str(), 0);
    const int unreadable = RunUnprivileged([] {
        try {
            ReadLanguage();
            return 0;
        } catch (const EInOutError& e) {
            return static_cast<int>(e.ErrorCode());
        }
    });
    EXPECT_EQ(unreadable, 5);
}

TEST_F(Language, OutcomeFollowsTheInstalledProgramFile) {
    DetectOutcome();
    EXPECT_TRUE(instal);
    EXPECT_FALSE(upgrade);
    MakeDirs(box_.C("Orvo_Tool/Orvo Tool.exe"));  // a folder is not the program
    DetectOutcome();
    EXPECT_TRUE(instal);
    ::rmdir(box_.C("Orvo_Tool/Orvo Tool.exe").c_str());
    WriteFile(box_.C("Orvo_Tool/Orvo Tool.exe"), "MZ");
    DetectOutcome();
    EXPECT_FALSE(instal);
    EXPECT_TRUE(upgrade);
}

}  // namespace
