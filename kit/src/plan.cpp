#include "kit/src/plan.h"

#include <windows.h>

#include <sstream>

#include "expected_plan_tsv.h"  // kExpectedPlanTsv, generated from tests/expected_plan.tsv
#include "kit/src/check.h"

namespace kit {
namespace {

std::vector<std::wstring> Cells(const std::string& line) {
    std::vector<std::wstring> cells;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, '\t')) cells.push_back(Wide(cell));
    cells.resize(4);
    return cells;
}

void AddUnique(std::vector<std::wstring>& names, const std::wstring& name) {
    for (const auto& n : names)
        if (n == name) return;
    names.push_back(name);
}

Plan Parse() {
    Plan plan;
    std::istringstream in(kExpectedPlanTsv);
    std::vector<std::wstring> unused;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const auto c = Cells(line);
        const std::wstring desktopTarget = c[3].empty() ? L"" : c[3].substr(c[3][0] == L'\\' ? 1 : 0);
        if (c[0] == L"language-pdf") {
            if (c[1].size() == 1 && c[1][0] >= L'0' && c[1][0] <= L'4') plan.languagePdf[c[1][0] - L'0'] = c[2];
        } else if (c[0] == L"unused") {
            unused.push_back(c[1]);
        } else if (c[0] == L"shortcut") {
            plan.shortcutTargets.push_back({c[1], c[2], c[3] == L"folder"});
        } else if (c[1] == L"ensure-program-folder" || c[1] == L"ensure-folder") {
            plan.folders.push_back(c[3]);
        } else if (c[1] == L"copy" || c[1] == L"copy-kept") {
            plan.copies.push_back({c[2], c[3], c[1] == L"copy-kept", false});
        } else if (c[1] == L"copy-to-desktop") {
            plan.copies.push_back({c[2], desktopTarget, false, true});
        } else if (c[1] == L"remove") {
            plan.removed.push_back(c[3]);
        } else if (c[1] == L"remove-from-desktop") {
            plan.olderCopies.push_back(desktopTarget);
        }
    }
    for (const auto& f : plan.folders) {
        bool inside = false;
        for (const auto& root : plan.roots) inside = inside || f.rfind(root + L"\\", 0) == 0;
        if (!inside) plan.roots.push_back(f);
    }
    for (const Copy& c : plan.copies) AddUnique(plan.distribution, c.source);
    for (const auto& pdf : plan.languagePdf)
        if (!pdf.empty()) AddUnique(plan.distribution, pdf);
    for (const auto& name : unused) AddUnique(plan.distribution, name);
    return plan;
}

}  // namespace

std::vector<std::wstring> Plan::DesktopNames() const {
    std::vector<std::wstring> names = olderCopies;
    for (const Copy& c : copies)
        if (c.desktop) AddUnique(names, c.target);
    for (const auto& pdf : languagePdf)
        if (!pdf.empty()) AddUnique(names, pdf);
    return names;
}

const Plan& ExpectedPlan() {
    static const Plan plan = Parse();
    return plan;
}

}  // namespace kit
