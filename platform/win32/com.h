// COM for a thread, for the tools that ask the shell and accessibility.
#pragma once

#include <objbase.h>

#include "platform/win32/handles.h"

namespace win32 {

// COM for this thread while this lives; a thread that has it already keeps it.
class ComScope {
public:
    ComScope() : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    HRESULT status() const { return hr_; }

private:
    HRESULT hr_;
};

}  // namespace win32
