#include <gtest/gtest.h>

#include <stdexcept>

#include "app/Errors.h"

namespace {

TEST(ApplicationTitle, TakesTheNameBeforeItsFirstDotWithTheRestLowerCased) {
    EXPECT_EQ(ApplicationTitleFromPath(L"C:\\dist\\Setup.exe"), L"Setup");
    EXPECT_EQ(ApplicationTitleFromPath(L"C:\\dist\\SETUP.EXE"), L"Setup");
    EXPECT_EQ(ApplicationTitleFromPath(L"D:\\a.b\\my.setup.exe"), L"my");
    EXPECT_EQ(ApplicationTitleFromPath(L"installer"), L"installer");
    EXPECT_EQ(ApplicationTitleFromPath(L"\\\\server\\share\\ŘEŠENÍ.EXE"), L"Řešení");
    EXPECT_EQ(ApplicationTitleFromPath(L"C:\\x\\sETUP.exe"), L"setup");  // the first character stays
}

TEST(ErrorBoxText, AddsAPeriodOnlyAfterCharactersAboveThePeriod) {
    EXPECT_EQ(WithFinalPeriod(L"File not found"), L"File not found.");
    EXPECT_EQ(WithFinalPeriod(L"Upgrade ready."), L"Upgrade ready.");
    EXPECT_EQ(WithFinalPeriod(L"Invalid data type for 'Desktop'"), L"Invalid data type for 'Desktop'");
    EXPECT_EQ(WithFinalPeriod(L"(first: C:\\x)"), L"(first: C:\\x)");
    EXPECT_EQ(WithFinalPeriod(L"a,"), L"a,");
    EXPECT_EQ(WithFinalPeriod(L"a/"), L"a/.");  // '/' is 47
    EXPECT_EQ(WithFinalPeriod(L"I/O error 32"), L"I/O error 32.");
    EXPECT_EQ(WithFinalPeriod(L"plocha"), L"plocha.");
    EXPECT_EQ(WithFinalPeriod(L""), L"");
}

std::exception_ptr Chain(const wchar_t* outer, const wchar_t* inner) {
    try {
        try {
            throw Exception(inner);
        } catch (...) {
            std::throw_with_nested(Exception(outer));
        }
    } catch (...) {
        return std::current_exception();
    }
}

TEST(ErrorBoxText, UsesTheInnermostNonEmptyMessageOfTheChain) {
    EXPECT_EQ(ErrorBoxText(Chain(L"outer", L"inner")), L"inner.");
    EXPECT_EQ(ErrorBoxText(Chain(L"outer", L"")), L"outer.");
    EXPECT_EQ(ErrorBoxText(Chain(L"", L"")), L"");
    EXPECT_EQ(ErrorBoxText(std::make_exception_ptr(EInOutError(100))), L"Read beyond end of file.");
    EXPECT_EQ(ErrorBoxText(std::make_exception_ptr(std::runtime_error("bad thing"))), L"bad thing.");
    EXPECT_EQ(ErrorBoxText(std::make_exception_ptr(42)), L"");
}

// A foreign exception's what() is UTF-8; a broken byte must not garble the rest.
TEST(ErrorBoxText, DecodesForeignMessagesAsUtf8) {
    const struct {
        const char* what;
        const wchar_t* shown;
    } cases[] = {
        {"Plocha nenalezena: \xC4\x8D\xC5\x99", L"Plocha nenalezena: čř."},
        {"\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0", L"Ошибка."},
        {"a\xFF\xC3(b", L"a\uFFFD\uFFFD(b."},
        {"overlong \xC0\xAF, surrogate \xED\xA0\x80", L"overlong \uFFFD\uFFFD, surrogate \uFFFD\uFFFD\uFFFD."},
        {"\xF0\x9F\x98\x80", L"\U0001F600."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorBoxText(std::make_exception_ptr(std::runtime_error(c.what))), c.shown) << c.what;
}

TEST(IOErrorMessage, NamesTheKnownCodesAndNumbersTheRest) {
    EXPECT_EQ(IOErrorMessage(2), L"File not found");
    EXPECT_EQ(IOErrorMessage(3), L"Invalid filename");
    EXPECT_EQ(IOErrorMessage(4), L"Too many open files");
    EXPECT_EQ(IOErrorMessage(5), L"File access denied");
    EXPECT_EQ(IOErrorMessage(100), L"Read beyond end of file");
    EXPECT_EQ(IOErrorMessage(101), L"Disk full");
    EXPECT_EQ(IOErrorMessage(106), L"Invalid numeric input");
    EXPECT_EQ(IOErrorMessage(32), L"I/O error 32");
    EXPECT_EQ(IOErrorMessage(0xFFFFFFFFu), L"I/O error 4294967295");
    EXPECT_EQ(EInOutError(5).ErrorCode(), 5u);
}

TEST(Decimal, WritesEveryIntegerIncludingTheExtremes) {
    EXPECT_EQ(Decimal(0), L"0");
    EXPECT_EQ(Decimal(33), L"33");
    EXPECT_EQ(Decimal(-1), L"-1");
    EXPECT_EQ(Decimal(4294967295LL), L"4294967295");
    EXPECT_EQ(Decimal(INT64_MIN), L"-9223372036854775808");
}

TEST(Format, FillsPlaceholdersInOrderAndKeepsSurplusOnes) {
    EXPECT_EQ(Format(L"%d file(s) (first: %s)", {L"2", L"C:\\a"}), L"2 file(s) (first: C:\\a)");
    EXPECT_EQ(Format(L"Invalid data type for '%s'", {L"Desktop"}), L"Invalid data type for 'Desktop'");
    EXPECT_EQ(Format(L"%s and %s", {L"one"}), L"one and %s");
    EXPECT_EQ(Format(L"100%", {}), L"100%");
}

}  // namespace
