// Setup in other surroundings: an expandable non-ASCII desktop, another folder or name, its window after an error.
#include "kit/src/scenarios.h"

#include <cstdlib>
#include <string>

#include "kit/src/scenario_support.h"
#include "kit/src/texts.h"

namespace kit {

void ExpandableNonAsciiDesktop(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    const std::wstring name = L"Plocha Žluťoučký kůň Рабочий стол";
    const std::wstring folder = Join(kit.work, name);
    // Expanded by Setup from its environment, which it inherits from the kit alone.
    ::SetEnvironmentVariableW(L"SETUP_CHECK_WORK", kit.work.c_str());
    if (!MakeFolders(folder)) throw NotPrepared{"cannot make " + Narrow(folder)};
    kit.extraDesktops.push_back(folder);
    DesktopOverride desktop(TextValue(REG_EXPAND_SZ, L"%SETUP_CHECK_WORK%\\" + name));
    if (!desktop.error().empty()) throw CannotCheck{Narrow(desktop.error())};
    ExpectCompletion(check, kit.readable, RunSetup(kit), Texts().completed[kEnglish]);
    std::vector<std::wstring> differing, strays;
    for (const Copy& c : kit.plan.copies)
        if (c.desktop) CompareWithSource(Join(folder, c.target), Join(kit.dist, c.source), differing);
    const std::wstring pdf = kit.plan.languagePdf[kEnglish];
    CompareWithSource(Join(folder, pdf), Join(kit.dist, pdf), differing);
    check.Expect(differing.empty(), "desktop items missing from the expanded desktop: " + Some(differing));
    for (const auto& n : kit.plan.DesktopNames())
        if (Exists(Join(kit.desktop, n))) strays.push_back(n);
    check.Expect(strays.empty(), "placed on the usual desktop instead: " + Some(strays));
}

void StartedElsewhere(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    const std::wstring elsewhere = Join(kit.work, L"elsewhere");
    if (!MakeFolders(elsewhere)) throw NotPrepared{"cannot make " + Narrow(elsewhere)};
    // Every copy lacks its source, and the language PDF (Czech: no language file here) too.
    const int failures = static_cast<int>(kit.plan.copies.size()) + 1;
    const std::wstring text = Format(Texts().incomplete[kEnglish], failures, kit.plan.copies.front().target) + L"\n" +
                              WithFinalPeriod(Format(Texts().wrongFolder, elsewhere, kit.dist));
    ExpectError(check, kit.readable, RunSetup(kit, L"Setup.exe", elsewhere), text);
}

void RenamedSetup(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    if (!::CopyFileW(Join(kit.dist, L"Setup.exe").c_str(), Join(kit.dist, L"Setup (1).exe").c_str(), TRUE))
        throw NotPrepared{"cannot make Setup (1).exe"};
    ExpectCompletion(check, kit.readable, RunSetup(kit, L"Setup (1).exe"), Texts().completed[kEnglish], L"Setup (1)");
}

void WindowAfterError(Kit& kit, Check& check) {
    PrepareDistribution(kit, kEnglish);
    if (!WriteFile(Join(kit.dist, L"dLangv.dat"), std::string("\1\0\0", 3))) throw NotPrepared{"cannot shorten dLangv.dat"};
    const boxdriver::Seen* window = ExpectError(check, kit.readable, RunSetup(kit), L"Read beyond end of file.");
    if (!window) return;
    const int w = ::MulDiv(248, static_cast<int>(window->dpi), 96), h = ::MulDiv(99, static_cast<int>(window->dpi), 96);
    check.Expect(std::abs(window->client.cx - w) <= 1 && std::abs(window->client.cy - h) <= 1,
                 "main window client " + std::to_string(window->client.cx) + "x" + std::to_string(window->client.cy) +
                     " at " + std::to_string(window->dpi) + " dpi, expected " + std::to_string(w) + "x" + std::to_string(h));
}

}  // namespace kit
