#include "app/Texts.h"

namespace {

struct CompletionTexts {
    const wchar_t* installation;
    const wchar_t* upgrade;
};

// Spelling, typos and final periods are the product's own.
constexpr CompletionTexts kCompletion[kLanguageCount] = {
    {L"Instalace dokončena", L"Upgrade dokončeno."},
    {L"Instaltion completed.", L"Upgrade ready."},
    {L"Installation ist fertig.", L"Upgrade ist fertig."},
    {L"Installation är klar.", L"Uppgradera är klar."},
    {L"Установка завершено.", L"Обновление завершено."},
};

}  // namespace

const wchar_t* CompletionTableEntry(int language, int kind) {
    if (language < 0 || language >= kLanguageCount) return nullptr;
    if (kind == mkInstallationCompleted) return kCompletion[language].installation;
    if (kind == mkUpgradeCompleted) return kCompletion[language].upgrade;
    return nullptr;
}
