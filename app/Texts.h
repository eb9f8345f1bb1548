// What the installer says, by language code: the completion texts, exactly as
// users have always seen them, and the incomplete-installation texts.
#pragma once

enum MessageKind : int {
    mkInstallationCompleted = 1,
    mkUpgradeCompleted = 3,
};

constexpr int kLanguageCount = 5;  // 0 Czech, 1 English, 2 German, 3 Swedish, 4 Russian

// The table entry, or nullptr for a code outside 0..4 or another kind.
const wchar_t* CompletionTableEntry(int language, int kind);

#include <cstdint>

enum class IncompleteLine {
    Failures,     // %d files could not be installed, %s the first target
    WrongFolder,  // %s the current folder
    FilesAreIn,   // appended to WrongFolder: %s Setup's own folder, which holds the files
};

// In the installation's language; English for a code outside 0..4. Folders
// stand in the language's quotation marks, so the box's final period never
// reads as part of a path.
const wchar_t* IncompleteText(int language, IncompleteLine line);

// The installation lock cannot be had: another Setup may hold its name, and
// nothing was changed. In the installation's language; English for a code
// outside 0..4.
const wchar_t* NoLockText(int language);

// The Windows language identifier of a language code; English for a code outside 0..4.
std::uint16_t LanguageId(int language);
