#include "lab/shelllink/shelllink.h"

#include <objbase.h>
#include <shlobj.h>

#include <vector>

#include "platform/win32/com.h"

namespace shelllink {
namespace {

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The shell's fields hold at most MAX_PATH characters; the buffer is NUL
// terminated whatever a call leaves in it.
template <typename Get>
std::wstring Field(Get get) {
    std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
    if (FAILED(get(buffer.data(), MAX_PATH))) return L"";
    buffer[MAX_PATH] = L'\0';
    return buffer.data();
}

std::wstring PathOf(IShellLinkW* link) {
    return Field([link](wchar_t* b, int n) { return link->GetPath(b, n, nullptr, 0); });
}

}  // namespace

Kind KindOf(const std::wstring& path) {
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Kind::kMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::kFolder : Kind::kFile;
}

std::wstring Expanded(const std::wstring& text) {
    const DWORD size = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (size == 0) return text;
    std::wstring out(size, L'\0');
    const DWORD written = ::ExpandEnvironmentStringsW(text.c_str(), &out[0], size);
    if (written == 0 || written > size) return text;
    out.resize(written - 1);
    return out;
}

Shortcut Read(const std::wstring& file) {
    Shortcut s;
    const win32::ComScope com;
    if (FAILED(com.status()) && com.status() != RPC_E_CHANGED_MODE) {
        s.error = L"COM could not start (" + Hex(com.status()) + L")";
        return s;
    }
    win32::UniqueCom<IShellLinkW> link;
    win32::UniqueCom<IPersistFile> persist;
    HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put());
    if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, persist.put());
    if (FAILED(hr)) {
        s.error = L"the shell offers no shell link object (" + Hex(hr) + L")";
        return s;
    }
    hr = persist->Load(file.c_str(), STGM_READ);
    if (FAILED(hr)) {
        s.error = L"the shell cannot load it (" + Hex(hr) + L")";
        return s;
    }
    s.path = PathOf(link.get());
    s.workingFolder = Field([&link](wchar_t* b, int n) { return link->GetWorkingDirectory(b, n); });
    s.iconFile = Field([&link, &s](wchar_t* b, int n) { return link->GetIconLocation(b, n, &s.iconIndex); });
    // No search and no link tracking: a target that is not where the
    // shortcut says is missing, not found elsewhere. No window for the UI.
    s.resolveStatus = link->Resolve(nullptr, SLR_NO_UI | SLR_NOUPDATE | SLR_NOSEARCH | SLR_NOTRACK);
    s.resolvedPath = PathOf(link.get());
    s.resolvedKind = KindOf(s.resolvedPath);
    return s;
}

}  // namespace shelllink
