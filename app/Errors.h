// Exceptions that end the installation, and how the error box words them.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::wstring message) : message_(std::move(message)) {}
    const std::wstring& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return "Setup error"; }

private:
    std::wstring message_;
};

class EInOutError : public Exception {
public:
    explicit EInOutError(std::uint32_t code);
    std::uint32_t ErrorCode() const noexcept { return code_; }

private:
    std::uint32_t code_;
};

// The decimal digits of n; std::to_wstring would link the C library's whole
// printf machinery into the Windows program for this.
std::wstring Decimal(long long n);

// Fills each %d or %s of `pattern`, in order, with the next argument.
std::wstring Format(const wchar_t* pattern, std::initializer_list<std::wstring> args);

std::wstring IOErrorMessage(std::uint32_t code);

// The innermost non-empty message of the exception's chain, with a final "."
// added when the last character's code is above that of ".".
std::wstring ErrorBoxText(std::exception_ptr error);
std::wstring WithFinalPeriod(std::wstring text);

// File name after the last backslash, cut at its first ".", every character
// after the first lower-cased.
std::wstring ApplicationTitleFromPath(const std::wstring& exePath);
