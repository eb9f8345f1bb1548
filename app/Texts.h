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

enum class IncompleteLine {
    Failures,           // %d files could not be installed, %s the first target
    WrongFolder,        // %s the current folder
    WrongFolderSetupIn, // %s the current folder, %s Setup's own folder holding the files
};

// In the installation's language; English for a code outside 0..4.
const wchar_t* IncompleteText(int language, IncompleteLine line);
