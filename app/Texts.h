// The completion texts, by language code and message kind, exactly as users see them.
#pragma once

enum MessageKind : int {
    mkInstallationCompleted = 1,
    mkUpgradeCompleted = 3,
};

constexpr int kLanguageCount = 5;  // 0 Czech, 1 English, 2 German, 3 Swedish, 4 Russian

// The table entry, or nullptr for a code outside 0..4 or another kind.
const wchar_t* CompletionTableEntry(int language, int kind);
