// setup-plan: prints the installer's plan as JSON, from the very tables
// Setup.exe is built from, for the release checks and the tests.
#include <cstdio>
#include <string>
#include <vector>

#include "app/InstallPlan.h"
#include "app/resources/version.h"
#include "platform/text.h"

namespace {

struct OpInfo {
    const char* name;
    const char* fileClass;  // nullptr for steps that install no file
};

OpInfo Describe(Op op) {
    switch (op) {
    case Op::ReadLanguage: return {"read-language", nullptr};
    case Op::EnsureFolder: return {"ensure-folder", nullptr};
    case Op::EnsureProgramFolder: return {"ensure-program-folder", nullptr};
    case Op::Copy: return {"copy", "replaced"};
    case Op::CopyKept: return {"copy-kept", "kept"};
    case Op::Remove: return {"remove", "removed"};
    case Op::DetectOutcome: return {"detect-outcome", nullptr};
    case Op::ClickRegister: return {"click-register", nullptr};
    case Op::ConfirmComplete: return {"confirm-complete", nullptr};
    case Op::ShowCompletion: return {"show-completion", nullptr};
    case Op::Terminate: return {"terminate", nullptr};
    case Op::RemoveFromDesktop: return {"remove-from-desktop", "desktop"};
    case Op::CopyToDesktop: return {"copy-to-desktop", "desktop"};
    case Op::CopyLanguagePdf: return {"copy-language-pdf", "desktop"};
    }
    return {"unknown", nullptr};
}

// A JSON string, or null; control characters are escaped.
std::string Json(const wchar_t* text) {
    if (!text) return "null";
    std::string out = "\"";
    for (const char c : text::ToUtf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Json(const char* text) { return text ? "\"" + std::string(text) + "\"" : "null"; }

void PrintPlan(const char* name, const Plan& plan, bool last) {
    std::printf("  \"%s\": [\n", name);
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const OpInfo info = Describe(plan[i].op);
        std::printf("    {\"op\": %s, \"source\": %s, \"target\": %s, \"class\": %s}%s\n", Json(info.name).c_str(),
                    Json(plan[i].source).c_str(), Json(plan[i].target).c_str(), Json(info.fileClass).c_str(),
                    i + 1 < plan.size() ? "," : "");
    }
    std::printf("  ]%s\n", last ? "" : ",");
}

// Every code that selects a different PDF, and one beyond each end.
void PrintLanguagePdfs() {
    const struct {
        const char* key;
        int code;
    } codes[] = {{"negative", -1}, {"0", 0}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"above 4", 5}};
    std::printf("  \"language_pdfs\": {");
    for (std::size_t i = 0; i < sizeof codes / sizeof codes[0]; ++i)
        std::printf("%s\"%s\": %s", i ? ", " : "", codes[i].key, Json(LanguagePdf(codes[i].code)).c_str());
    std::printf("},\n");
}

// The installed trees: every ensured folder not inside another one.
void PrintRoots() {
    std::vector<std::wstring> roots;
    for (const Step& step : InstallPlan()) {
        if (step.op != Op::EnsureFolder && step.op != Op::EnsureProgramFolder) continue;
        const std::wstring folder = step.target;
        bool inside = false;
        for (const std::wstring& root : roots) inside = inside || folder.rfind(root + L"\\", 0) == 0;
        if (!inside) roots.push_back(folder);
    }
    std::printf("  \"roots\": [");
    for (std::size_t i = 0; i < roots.size(); ++i) std::printf("%s%s", i ? ", " : "", Json(roots[i].c_str()).c_str());
    std::printf("],\n");
}

void PrintShortcuts() {
    std::printf("  \"shortcuts\": {");
    const auto& targets = ShortcutTargets();
    for (std::size_t i = 0; i < targets.size(); ++i)
        std::printf("%s%s: {\"target\": %s, \"folder\": %s}", i ? ", " : "", Json(targets[i].shortcut).c_str(),
                    Json(targets[i].target).c_str(), targets[i].folder ? "true" : "false");
    std::printf("},\n");
}

}  // namespace

int main(int argc, char**) {
    if (argc != 1) {
        std::fputs("usage: setup-plan\nPrints the installer's plan as JSON.\n", stderr);
        return 2;
    }
    std::printf("{\n");
    std::printf("  \"release\": %s,\n  \"setup_version\": %s,\n", Json(SETUP_RELEASE_NAME).c_str(),
                Json(SETUP_VERSION_TEXT).c_str());
    PrintRoots();
    PrintShortcuts();
    PrintLanguagePdfs();
    PrintPlan("install", InstallPlan(), false);
    PrintPlan("desktop", DesktopPlan(), true);
    std::printf("}\n");
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
