#include "app/Texts.h"

namespace {

struct LanguageTexts {
    const wchar_t* installation;
    const wchar_t* upgrade;
    const wchar_t* failures;
    const wchar_t* wrongFolder;
    const wchar_t* wrongFolderSetupIn;
};

constexpr int kEnglish = 1;

// The completion texts' spelling, typos and final periods are the product's own.
constexpr LanguageTexts kTexts[kLanguageCount] = {
    {L"Instalace dokončena", L"Upgrade dokončeno.",
     L"Instalace není dokončena: %d soubor(ů) nelze nainstalovat (první: %s)",
     L"Setup je nutné spustit ze složky, ve které jsou instalační soubory; byl spuštěn ve složce %s",
     L"Setup je nutné spustit ze složky, ve které jsou instalační soubory; byl spuštěn ve složce %s, "
     L"ale soubory jsou ve složce %s"},
    {L"Instaltion completed.", L"Upgrade ready.",
     L"Installation incomplete: %d file(s) could not be installed (first: %s)",
     L"Setup must be started from the folder that holds the installation files; it was started in %s",
     L"Setup must be started from the folder that holds the installation files; it was started in %s, "
     L"but the files are in %s"},
    {L"Installation ist fertig.", L"Upgrade ist fertig.",
     L"Installation unvollständig: %d Datei(en) konnten nicht installiert werden (erste: %s)",
     L"Setup muss aus dem Ordner gestartet werden, in dem die Installationsdateien liegen; gestartet wurde "
     L"es in %s",
     L"Setup muss aus dem Ordner gestartet werden, in dem die Installationsdateien liegen; gestartet wurde "
     L"es in %s, die Dateien liegen aber in %s"},
    {L"Installation är klar.", L"Uppgradera är klar.",
     L"Installationen är ofullständig: %d fil(er) kunde inte installeras (första: %s)",
     L"Setup måste startas från mappen där installationsfilerna finns; det startades i %s",
     L"Setup måste startas från mappen där installationsfilerna finns; det startades i %s, men filerna finns "
     L"i %s"},
    {L"Установка завершено.", L"Обновление завершено.",
     L"Установка не завершена: не удалось установить файлов: %d (первый: %s)",
     L"Программу установки нужно запускать из папки с установочными файлами; она запущена из папки %s",
     L"Программу установки нужно запускать из папки с установочными файлами; она запущена из папки %s, "
     L"а файлы находятся в папке %s"},
};

}  // namespace

const wchar_t* CompletionTableEntry(int language, int kind) {
    if (language < 0 || language >= kLanguageCount) return nullptr;
    if (kind == mkInstallationCompleted) return kTexts[language].installation;
    if (kind == mkUpgradeCompleted) return kTexts[language].upgrade;
    return nullptr;
}

const wchar_t* IncompleteText(int language, IncompleteLine line) {
    const LanguageTexts& t = kTexts[language >= 0 && language < kLanguageCount ? language : kEnglish];
    switch (line) {
    case IncompleteLine::Failures: return t.failures;
    case IncompleteLine::WrongFolder: return t.wrongFolder;
    case IncompleteLine::WrongFolderSetupIn: return t.wrongFolderSetupIn;
    }
    return t.failures;
}
