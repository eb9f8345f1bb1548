// Whether a shortcut, as the shell resolved it, leads to its own target, there and of its kind.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "kit/src/link_target.h"

namespace kit {
namespace {

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) { return text::LowerCase(a) == text::LowerCase(b); }

TEST(Shortcuts, LeadToTheirOwnTargetThereAndOfItsKind) {
    using shelllink::Kind;
    const std::wstring tool = L"C:\\Orvo_Tool\\Orvo Tool.exe";
    const std::string is = "Orvo Tool.lnk's target C:\\Orvo_Tool\\Orvo Tool.exe is ";
    const struct {
        Resolution r;
        Kind kind;
        std::string line;
    } cases[] = {
        {{tool, true, "0x0", tool, Kind::kFile}, Kind::kFile, "ok"},
        {{L"c:\\orvo_tool\\ORVO TOOL.EXE", true, "0x0", tool, Kind::kFile}, Kind::kFile, "ok"},
        {{tool, true, "0x0", tool, Kind::kMissing}, Kind::kFile, "FAIL: " + is + "missing"},
        {{tool, true, "0x0", tool, Kind::kMissing}, Kind::kFolder, "FAIL: " + is + "missing"},
        {{tool, true, "0x0", tool, Kind::kFolder}, Kind::kFile, "FAIL: " + is + "a folder, not a file"},
        {{tool, false, "0x80004005", tool, Kind::kMissing}, Kind::kFile,
         "FAIL: the shell could not resolve Orvo Tool.lnk (0x80004005); " + is + "missing"},
        {{L"D:\\build\\Orvo Tool.exe", true, "0x0", L"D:\\build\\Orvo Tool.exe", Kind::kFile}, Kind::kFile,
         "FAIL: Orvo Tool.lnk points to D:\\build\\Orvo Tool.exe, not C:\\Orvo_Tool\\Orvo Tool.exe"},
        {{tool, true, "0x0", L"", Kind::kMissing}, Kind::kFile,
         "FAIL: Orvo Tool.lnk resolves to none, not C:\\Orvo_Tool\\Orvo Tool.exe"},
    };
    for (const auto& c : cases) {
        Check check;
        Tally tally;
        ExpectLeadsTo(check, "Orvo Tool.lnk", c.r, tool, c.kind, SameIgnoringCase);
        EXPECT_EQ(tally.Count(check, ""), c.line) << text::ToUtf8(c.r.stored) << " " << shelllink::KindName(c.r.kind);
    }
}

}  // namespace
}  // namespace kit
