// Links another account plants in the data tree: nothing outside the trees is touched, and the files are reported.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "app/PlanRunner.h"
#include "platform/fileops.h"
#include "tests/unit/documented_files.h"
#include "tests/unit/publish_model.h"

namespace {

using namespace testing_support;

// Links another account plants in the data tree, which every account may
// change: nothing outside the trees is written or deleted, and what was meant
// for a folder that leads out of them is reported, with one code. The
// desktop still follows the user's own junction.
TEST(LinksInTheTrees, NothingOutsideIsTouchedAndTheFilesAreReported) {
    const std::wstring data = L"C:\\Orvo_Tool Data", dbz = data + L"\\DBZ", dokum = data + L"\\Dokum";
    const std::wstring elsewhere = L"C:\\Windows", objects = L"\\RPC Control", realDesktop = L"D:\\Real";
    const struct {
        const char* what;
        std::map<std::wstring, std::wstring> links, linkedOnceHeld;
        int failures;
        std::wstring target;
        std::uint32_t code = fileops::kErrorReparsePointEncountered;
        bool fileInTheWay = false;
    } cases[] = {
        {"Dokum a junction to a folder outside", {{dokum, elsewhere}}, {}, 13, dokum + L"\\Orvo Tool CZ.pdf"},
        {"the data folder a junction: nothing made below it", {{data, elsewhere}}, {}, 23, dokum + L"\\Orvo Tool CZ.pdf"},
        {"DBZ, held empty, made a junction to an object-manager folder whose links lead outside",
         {{objects + L"\\QKV.txt.setup-new", elsewhere + L"\\victim.dll"}}, {{dbz, objects}}, 8, dbz + L"\\Power.txt"},
        {"Dokum a file, made a junction once looked at", {}, {{dokum, elsewhere}}, 13, dokum + L"\\Orvo Tool CZ.pdf",
         fileops::kErrorPathNotFound, true},
        {"a file link at a temporary name, to a read-only file outside",
         {{dbz + L"\\QKV.txt.setup-new", elsewhere + L"\\victim.dll"}}, {}, 0, L""},
        {"the desktop a junction of the user's own", {{kDesktop, realDesktop}}, {}, 0, L""},
    };
    for (const auto& c : cases) {
        DocumentedFiles files;
        files.folders = {elsewhere, elsewhere + L"\\DBZ", objects, realDesktop};
        if (!c.links.count(kDesktop)) files.folders.insert(kDesktop);
        PutSources(files, "new", false);
        files.Put(elsewhere + L"\\victim.dll", "theirs", true);
        for (const std::wstring leftover : {L"\\Orvo Tool CZ.pdf.setup-new", L"\\DBZ\\Power.txt", L"\\DBZ\\Power.txt.setup-new"})
            files.Put(elsewhere + leftover, "named like a leftover");
        if (c.fileInTheWay) files.Put(dokum, "in the way");
        files.links = c.links;
        files.linkedOnceHeld = c.linkedOnceHeld;
        const auto outside = [&] {
            std::string seen;
            for (const auto& [name, file] : files.files)
                if (name.rfind(elsewhere, 0) == 0 || name.rfind(objects, 0) == 0)
                    seen += Narrow(name) + "=" + file.data + (file.readOnly ? " ro; " : "; ");
            for (const auto& folder : files.folders)
                if (folder.rfind(elsewhere, 0) == 0 || folder.rfind(objects, 0) == 0) seen += Narrow(folder) + "\\; ";
            return seen;
        };
        const std::string before = outside();
        const FailureReport report = Install(files);
        EXPECT_EQ(outside(), before) << c.what;
        EXPECT_EQ(report.failures, c.failures) << c.what;
        EXPECT_EQ(report.firstTarget, c.target) << c.what;
        EXPECT_EQ(report.firstError, c.failures ? c.code : 0u) << c.what;
        if (c.links.count(kDesktop)) EXPECT_TRUE(files.files.count(realDesktop + L"\\Orvo Tool.lnk")) << c.what;
    }
}

}  // namespace
