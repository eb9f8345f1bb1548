#include "app/InstallPlan.h"

const Plan& InstallPlan() {
    static const Plan plan = {
        {Op::ReadLanguage, nullptr, nullptr},

        {Op::EnsureProgramFolder, nullptr, L"C:\\Orvo_Tool"},
        {Op::EnsureFolder, nullptr, L"C:\\Orvo_Tool Data"},
        {Op::EnsureFolder, nullptr, L"C:\\Orvo_Tool Data\\DBZ"},
        {Op::EnsureFolder, nullptr, L"C:\\Orvo_Tool Data\\Dokum"},
        {Op::EnsureFolder, nullptr, L"C:\\Orvo_Tool Data\\Program"},

        {Op::Copy, L"Data\\Kesmark.pdf", L"C:\\Orvo_Tool\\Kesmark.pdf"},
        {Op::Copy, L"Data\\KesmarkE.pdf", L"C:\\Orvo_Tool\\KesmarkE.pdf"},
        {Op::Copy, L"Data\\KesmarkD.pdf", L"C:\\Orvo_Tool\\KesmarkD.pdf"},
        {Op::Copy, L"Data\\KesmarkS.pdf", L"C:\\Orvo_Tool\\KesmarkS.pdf"},
        {Op::Copy, L"Orvo Tool CZ.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Orvo Tool CZ.pdf"},
        {Op::Copy, L"Orvo Tool DE.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Orvo Tool DE.pdf"},
        {Op::Copy, L"Orvo Tool EN.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Orvo Tool EN.pdf"},

        {Op::DetectOutcome, nullptr, nullptr},

        {Op::Copy, L"dLangv.dat", L"C:\\Orvo_Tool\\dLangv.dat"},

        {Op::CopyKept, L"Data\\Power.txt", L"C:\\Orvo_Tool Data\\DBZ\\Power.txt"},
        {Op::CopyKept, L"Data\\Power.txt", L"C:\\Orvo_Tool Data\\Program\\Power.txt"},
        {Op::CopyKept, L"Data\\PowerEN.txt", L"C:\\Orvo_Tool Data\\DBZ\\PowerEN.txt"},
        {Op::CopyKept, L"Data\\PowerEN.txt", L"C:\\Orvo_Tool Data\\Program\\PowerEN.txt"},

        {Op::Copy, L"Data\\QCAFL.txt", L"C:\\Orvo_Tool Data\\DBZ\\QCAFL.txt"},
        {Op::Copy, L"Data\\QCAFL_EN.txt", L"C:\\Orvo_Tool Data\\DBZ\\QCAFL_EN.txt"},
        {Op::Copy, L"Data\\QBRENLOW.txt", L"C:\\Orvo_Tool Data\\DBZ\\QBRENLOW.txt"},
        {Op::Copy, L"Data\\QKV.txt", L"C:\\Orvo_Tool Data\\DBZ\\QKV.txt"},
        {Op::Copy, L"Data\\QPower1.txt", L"C:\\Orvo_Tool Data\\DBZ\\QPower1.txt"},

        {Op::Remove, nullptr, L"C:\\Orvo_Tool Data\\DBZ\\Rakoviny.txt"},

        {Op::Copy, L"Data\\QmtrinOrvoT.txt", L"C:\\Orvo_Tool\\QmtrinOrvoT.txt"},
        {Op::Copy, L"Data\\Power Seznam.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Power Seznam.pdf"},
        {Op::Copy, L"Data\\Q CAFL EN frequence.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q CAFL EN frequence.pdf"},
        {Op::Copy, L"Data\\Q CAFL EN List.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q CAFL EN List.pdf"},
        {Op::Copy, L"Data\\Q CAFL frekvence.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q CAFL frekvence.pdf"},
        {Op::Copy, L"Data\\Q CAFL seznam.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q CAFL seznam.pdf"},
        {Op::Copy, L"Data\\Q BRENLOW frekvence.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q BRENLOW frekvence.pdf"},
        {Op::Copy, L"Data\\Q BRENLOW seznam.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q BRENLOW seznam.pdf"},
        {Op::Copy, L"Data\\Q KV Frekvence.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q KV Frekvence.pdf"},
        {Op::Copy, L"Data\\Q KV seznam.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q KV seznam.pdf"},
        {Op::Copy, L"Data\\Q Power1 Seznam.pdf", L"C:\\Orvo_Tool Data\\Dokum\\Q Power1 Seznam.pdf"},

        {Op::ClickRegister, nullptr, nullptr},
        {Op::ConfirmComplete, nullptr, nullptr},
        {Op::ShowCompletion, nullptr, nullptr},
        {Op::Terminate, nullptr, nullptr},
    };
    return plan;
}

const Plan& DesktopPlan() {
    // The two 4_1 names have two spaces before the language.
    static const Plan plan = {
        {Op::RemoveFromDesktop, nullptr, L"\\Orvo Tool 4_3.exe"},
        {Op::RemoveFromDesktop, nullptr, L"\\Orvo Tool 4_2 CZ.exe"},
        {Op::RemoveFromDesktop, nullptr, L"\\Orvo Tool 4_2 EN.exe"},
        {Op::RemoveFromDesktop, nullptr, L"\\Orvo Tool 4_1  CZ.exe"},
        {Op::RemoveFromDesktop, nullptr, L"\\Orvo Tool 4_1  EN.exe"},

        {Op::CopyToDesktop, L"Orvo Tool.lnk", L"\\Orvo Tool.lnk"},
        {Op::CopyToDesktop, L"Orvo_Tool DATA.lnk", L"\\Orvo_Tool DATA.lnk"},
        {Op::CopyLanguagePdf, nullptr, nullptr},

        {Op::Copy, L"Orvo Tool.exe", L"C:\\Orvo_Tool\\Orvo Tool.exe"},
        {Op::Copy, L"Orvo Dustrel.exe", L"C:\\Orvo_Tool\\Orvo Dustrel.exe"},
    };
    return plan;
}

const wchar_t* LanguagePdf(int language) {
    if (language < 0) return nullptr;
    if (language == 0) return L"Orvo Tool CZ.pdf";
    if (language == 2) return L"Orvo Tool DE.pdf";
    return L"Orvo Tool EN.pdf";
}
