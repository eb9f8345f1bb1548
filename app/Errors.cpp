#include "app/Errors.h"

#include "platform/text.h"

EInOutError::EInOutError(std::uint32_t code) : Exception(IOErrorMessage(code)), code_(code) {}

std::wstring Decimal(long long n) {
    const bool negative = n < 0;
    unsigned long long u = negative ? 0ull - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + u % 10));
        u /= 10;
    } while (u != 0);
    return negative ? L"-" + digits : digits;
}

std::wstring Format(const wchar_t* pattern, std::initializer_list<std::wstring> args) {
    std::wstring out;
    auto next = args.begin();
    for (const wchar_t* p = pattern; *p; ++p) {
        if (p[0] == L'%' && (p[1] == L'd' || p[1] == L's') && next != args.end()) {
            out += *next++;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

std::wstring IOErrorMessage(std::uint32_t code) {
    switch (code) {
    case 2: return L"File not found";
    case 3: return L"Invalid filename";
    case 4: return L"Too many open files";
    case 5: return L"File access denied";
    case 100: return L"Read beyond end of file";
    case 101: return L"Disk full";
    case 106: return L"Invalid numeric input";
    default: return Format(L"I/O error %d", {Decimal(code)});
    }
}

namespace {

std::wstring MessageOf(const std::exception& e) {
    if (auto* ours = dynamic_cast<const Exception*>(&e)) return ours->Message();
    return text::FromUtf8(e.what());
}

// Walks outer to inner; the last non-empty message met wins.
void InnermostMessage(std::exception_ptr error, std::wstring& found) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::wstring message = MessageOf(e);
        if (!message.empty()) found = std::move(message);
        try {
            std::rethrow_if_nested(e);
        } catch (...) {
            InnermostMessage(std::current_exception(), found);
        }
    } catch (...) {
    }
}

}  // namespace

std::wstring WithFinalPeriod(std::wstring text) {
    if (!text.empty() && static_cast<std::uint32_t>(text.back()) > L'.') text += L'.';
    return text;
}

std::wstring ErrorBoxText(std::exception_ptr error) {
    std::wstring message;
    InnermostMessage(error, message);
    return WithFinalPeriod(message);
}

std::wstring ApplicationTitleFromPath(const std::wstring& exePath) {
    const auto slash = exePath.find_last_of(L'\\');
    std::wstring name = slash == std::wstring::npos ? exePath : exePath.substr(slash + 1);
    name = name.substr(0, name.find(L'.'));
    if (name.size() > 1) name = name.substr(0, 1) + text::LowerCase(name.substr(1));
    return name;
}
