#include "kit/src/desktop_save.h"

namespace kit {

const wchar_t kKitKeyName[] = L"Software\\setup-check";
const wchar_t kRunOnceName[] = L"!setup-check restores the Desktop value";

namespace {

const wchar_t kDesktop[] = L"Desktop";
const wchar_t kOriginal[] = L"Original";
const wchar_t kReplacement[] = L"Replacement";
// Written last, read first: 1 when a save is complete and the original
// existed, 0 when it is complete and there was no value.
const wchar_t kSaved[] = L"Saved";
// 1 when the kit made the RunOnce key (a new profile may have none): it goes too.
const wchar_t kRunOnceKeyMade[] = L"RunOnce key made";

void Forget(Registry& r) {
    const bool runOnceMade = r.Read(Place::kKitKey, kRunOnceKeyMade) == NumberValue(1);
    r.Write(Place::kRunOnce, kRunOnceName, {});
    if (runOnceMade) r.RemoveKeyIfEmpty(Place::kRunOnce);
    for (const wchar_t* name : {kSaved, kOriginal, kReplacement, kRunOnceKeyMade}) r.Write(Place::kKitKey, name, {});
    r.RemoveKeyIfEmpty(Place::kKitKey);
}

bool WriteAll(Registry& r, const RegValue& original, const RegValue& replacement, const std::wstring& command) {
    const RegValue saved = NumberValue(original.exists ? 1 : 0);
    return r.Write(Place::kKitKey, kRunOnceKeyMade, NumberValue(r.KeyExists(Place::kRunOnce) ? 0 : 1)) &&
           r.Write(Place::kKitKey, kOriginal, original) && r.Write(Place::kKitKey, kReplacement, replacement) &&
           r.Write(Place::kKitKey, kSaved, saved) && r.Flush(Place::kKitKey) &&
           r.Read(Place::kKitKey, kOriginal) == original && r.Read(Place::kKitKey, kReplacement) == replacement &&
           r.Read(Place::kKitKey, kSaved) == saved &&
           r.Write(Place::kRunOnce, kRunOnceName, TextValue(kRegSz, command)) && r.Flush(Place::kRunOnce);
}

}  // namespace

RegValue TextValue(std::uint32_t type, const std::wstring& text) {
    RegValue v{true, type, {}};
    for (wchar_t c : text + L'\0') {
        const auto unit = static_cast<std::uint32_t>(c);
        v.data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        v.data.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
    }
    return v;
}

RegValue NumberValue(std::uint32_t number) {
    return {true, kRegDword, {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                              static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)}};
}

std::wstring TextOf(const RegValue& value) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const wchar_t c = static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8));
        if (c == L'\0') break;
        text += c;
    }
    return text;
}

std::wstring Describe(const RegValue& value) {
    if (!value.exists) return L"(no value)";
    const std::wstring type = value.type == kRegSz         ? L"REG_SZ"
                              : value.type == kRegExpandSz ? L"REG_EXPAND_SZ"
                                                           : L"type " + std::to_wstring(value.type);
    return type + L" \"" + TextOf(value) + L"\"";
}

std::wstring SaveAndReplace(Registry& r, const RegValue& replacement, const std::wstring& restoreCommand) {
    if (r.Read(Place::kKitKey, kSaved).exists)
        return L"a Desktop value saved by another run is still kept in HKCU\\" + std::wstring(kKitKeyName);
    const RegValue original = r.Read(Place::kShellFolders, kDesktop);
    if (!WriteAll(r, original, replacement, restoreCommand)) {
        Forget(r);
        return L"cannot save the Desktop value in HKCU\\" + std::wstring(kKitKeyName) +
               L" and a RunOnce entry before changing it";
    }
    if (!r.Write(Place::kShellFolders, kDesktop, replacement)) {
        RestoreSaved(r);
        return L"cannot set the Desktop value";
    }
    return L"";
}

Restored RestoreSaved(Registry& r) {
    const RegValue saved = r.Read(Place::kKitKey, kSaved);
    if (!saved.exists) {  // none, or one cut short before the value changed
        Forget(r);
        return {};
    }
    const RegValue original = r.Read(Place::kKitKey, kOriginal), replacement = r.Read(Place::kKitKey, kReplacement);
    if ((saved != NumberValue(0) && saved != NumberValue(1)) || original.exists != (saved == NumberValue(1)) ||
        !replacement.exists)
        return {Restored::kFailed, L"the save in HKCU\\" + std::wstring(kKitKeyName) +
                                       L" is damaged; set the Desktop value by hand, then delete that key"};
    const RegValue now = r.Read(Place::kShellFolders, kDesktop);
    if (now == replacement) {
        if (!r.Write(Place::kShellFolders, kDesktop, original) || r.Read(Place::kShellFolders, kDesktop) != original)
            return {Restored::kFailed, L"cannot restore the Desktop value to " + Describe(original)};
        Forget(r);
        return {Restored::kRestored, L"restored the Desktop value to " + Describe(original)};
    }
    Forget(r);
    if (now == original) return {Restored::kRestored, L"the Desktop value was already back: " + Describe(original)};
    return {Restored::kLeftAlone, L"the Desktop value is no longer the kit's " + Describe(replacement) + L" but " +
                                      Describe(now) + L", written since by someone else: left alone (before the kit it was " +
                                      Describe(original) + L")"};
}

bool IsAbsolutePath(const std::wstring& path) {
    const auto letter = [](wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); };
    if (path.size() >= 3 && letter(path[0]) && path[1] == L':' && path[2] == L'\\') return true;
    // \\server\share: a server name and a share name, not \\?\ or \\.\ device paths.
    if (path.size() < 5 || path.compare(0, 2, L"\\\\") != 0 || path[2] == L'?' || path[2] == L'.') return false;
    const std::size_t share = path.find(L'\\', 2);
    return share != std::wstring::npos && share > 2 && share + 1 < path.size() && path[share + 1] != L'\\';
}

}  // namespace kit
