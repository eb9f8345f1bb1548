#include "lab/boxdriver/accessible.h"

#include <oleacc.h>

#include "platform/win32/com.h"

namespace boxdriver {
namespace {

// Not IID_IAccessible: oleacc exports that as data, and a static link to its
// import library resolves the name to the import thunk's code instead.
const IID kIAccessible = __uuidof(IAccessible);

template <typename T>
using Com = win32::UniqueCom<T>;

struct Variant {
    Variant() { ::VariantInit(&v); }
    ~Variant() { ::VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT v;
};

struct Bstr {
    ~Bstr() { ::SysFreeString(s); }
    BSTR s = nullptr;
};

VARIANT Self(long id) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

// A static text or a push button that is shown, by its name.
void Note(IAccessible* acc, long id, Seen& seen) {
    const VARIANT child = Self(id);
    Variant role, state;
    if (FAILED(acc->get_accRole(child, &role.v)) || role.v.vt != VT_I4) return;
    if (SUCCEEDED(acc->get_accState(child, &state.v)) && state.v.vt == VT_I4 &&
        (state.v.lVal & STATE_SYSTEM_INVISIBLE))
        return;
    Bstr name;
    if (FAILED(acc->get_accName(child, &name.s)) || !name.s) return;
    const std::wstring text(name.s, ::SysStringLen(name.s));
    if (role.v.lVal == ROLE_SYSTEM_STATICTEXT && !text.empty()) seen.accessibleTexts.push_back(text);
    if (role.v.lVal == ROLE_SYSTEM_PUSHBUTTON) seen.accessibleButtons.push_back(text);
}

void Walk(IAccessible* acc, Seen& seen, int depth) {
    long count = 0;
    if (depth > 12 || FAILED(acc->get_accChildCount(&count)) || count <= 0) return;
    std::vector<Variant> kids(static_cast<std::size_t>(count));
    std::vector<VARIANT> raw(static_cast<std::size_t>(count));
    long got = 0;
    if (FAILED(::AccessibleChildren(acc, 0, count, raw.data(), &got))) return;
    for (long i = 0; i < got; ++i) kids[i].v = raw[i];  // owned from here, cleared on every path
    for (long i = 0; i < got; ++i) {
        const VARIANT& v = kids[i].v;
        if (v.vt == VT_DISPATCH && v.pdispVal) {
            Com<IAccessible> child;
            if (FAILED(v.pdispVal->QueryInterface(kIAccessible, child.put())) || !child.get()) continue;
            Note(child.get(), CHILDID_SELF, seen);
            Walk(child.get(), seen, depth + 1);
        } else if (v.vt == VT_I4) {
            Note(acc, v.lVal, seen);
        }
    }
}


// A control's own client object. Wine's oleacc gives every control a plain
// client object (ROLE_SYSTEM_CLIENT) with the control's name; its class then
// tells a text from a button.
void NoteControl(HWND child, IAccessible* acc, Seen& seen) {
    const VARIANT self = Self(CHILDID_SELF);
    Variant role;
    Bstr name;
    if (FAILED(acc->get_accRole(self, &role.v)) || role.v.vt != VT_I4 || role.v.lVal != ROLE_SYSTEM_CLIENT ||
        FAILED(acc->get_accName(self, &name.s)) || !name.s || !::SysStringLen(name.s))
        return Note(acc, CHILDID_SELF, seen);
    wchar_t cls[64] = L"";
    ::GetClassNameW(child, cls, 64);
    const std::wstring text(name.s, ::SysStringLen(name.s));
    if (_wcsicmp(cls, L"Static") == 0) seen.accessibleTexts.push_back(text);
    if (_wcsicmp(cls, L"Button") == 0) seen.accessibleButtons.push_back(text);
}

}  // namespace

// The window's client object, walked whole; where that shows no text or
// button, each shown child window's own client object (on Windows a task
// dialog's text lives in its DirectUIHWND child).
void ReadAccessible(HWND hwnd, Seen& seen) {
    const win32::ComScope com;
    Com<IAccessible> root;
    seen.accessibleStatus = ::AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), kIAccessible,
                                                         root.put());
    if (FAILED(seen.accessibleStatus) || !root.get()) return;
    seen.accessibleRead = true;
    Walk(root.get(), seen, 0);
    if (!seen.accessibleTexts.empty() || !seen.accessibleButtons.empty()) return;
    for (HWND child = ::GetWindow(hwnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        Com<IAccessible> acc;
        if (!::IsWindowVisible(child) ||
            FAILED(::AccessibleObjectFromWindow(child, static_cast<DWORD>(OBJID_CLIENT), kIAccessible, acc.put())) ||
            !acc.get())
            continue;
        NoteControl(child, acc.get(), seen);
        Walk(acc.get(), seen, 1);
    }
}

}  // namespace boxdriver
