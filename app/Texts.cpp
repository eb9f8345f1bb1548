#include "app/Texts.h"

namespace {

struct LanguageTexts {
    std::uint16_t languageId;
    const wchar_t* installation;
    const wchar_t* upgrade;
    const wchar_t* failures;
    const wchar_t* wrongFolder;
    const wchar_t* filesAreIn;
    const wchar_t* noLock;
};

constexpr int kEnglish = 1;

// The completion texts' spelling, typos and final periods are the product's own.
constexpr LanguageTexts kTexts[kLanguageCount] = {
    {0x0405, L"Instalace dokončena", L"Upgrade dokončeno.",
     L"Instalace není dokončena. Počet souborů, které nelze nainstalovat: %d (první: %s)",
     L"Instalační program je nutné spustit ze složky s instalačními soubory; byl spuštěn ve složce „%s“",
     L", ale soubory jsou ve složce „%s“",
     L"Možná již běží jiný instalační program; nic nebylo změněno."},
    {0x0409, L"Instaltion completed.", L"Upgrade ready.",
     L"Installation incomplete: %d file(s) could not be installed (first: %s)",
     L"Setup must be started from the folder that holds the installation files; it was started in “%s”",
     L", but the files are in “%s”",
     L"Another Setup may be running; nothing was changed."},
    {0x0407, L"Installation ist fertig.", L"Upgrade ist fertig.",
     L"Installation unvollständig. Nicht installierte Dateien: %d (erste: %s)",
     L"Setup muss aus dem Ordner gestartet werden, in dem sich die Installationsdateien befinden; es wurde im "
     L"Ordner „%s“ gestartet",
     L", die Dateien befinden sich aber im Ordner „%s“",
     L"Möglicherweise läuft bereits ein anderes Setup; es wurde nichts geändert."},
    {0x041D, L"Installation är klar.", L"Uppgradera är klar.",
     L"Installationen är ofullständig: %d fil(er) kunde inte installeras (första: %s)",
     L"Installationsprogrammet måste startas från mappen där installationsfilerna finns; det startades i mappen "
     L"”%s”",
     L", men filerna finns i mappen ”%s”",
     L"Ett annat installationsprogram kanske redan körs; ingenting har ändrats."},
    {0x0419, L"Установка завершено.", L"Обновление завершено.",
     L"Установка не завершена: не удалось установить файлов: %d (первый: %s)",
     L"Программу установки нужно запускать из папки с установочными файлами; она запущена из папки «%s»",
     L", а файлы находятся в папке «%s»",
     L"Возможно, уже работает другая программа установки; ничего не изменено."},
};

const LanguageTexts& TextsOf(int language) {
    return kTexts[language >= 0 && language < kLanguageCount ? language : kEnglish];
}

}  // namespace

const wchar_t* CompletionTableEntry(int language, int kind) {
    if (language < 0 || language >= kLanguageCount) return nullptr;
    if (kind == mkInstallationCompleted) return kTexts[language].installation;
    if (kind == mkUpgradeCompleted) return kTexts[language].upgrade;
    return nullptr;
}

const wchar_t* IncompleteText(int language, IncompleteLine line) {
    const LanguageTexts& t = TextsOf(language);
    switch (line) {
    case IncompleteLine::Failures: return t.failures;
    case IncompleteLine::WrongFolder: return t.wrongFolder;
    case IncompleteLine::FilesAreIn: return t.filesAreIn;
    }
    return t.failures;
}

const wchar_t* NoLockText(int language) { return TextsOf(language).noLock; }

std::uint16_t LanguageId(int language) { return TextsOf(language).languageId; }
