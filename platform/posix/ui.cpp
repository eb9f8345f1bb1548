// Without a window system the boxes are written to the terminal and wait for
// Enter only when someone is there to press it.
#include "platform/ui.h"

#include <cstdio>
#include <unistd.h>

#include "platform/posix/console.h"
#include "platform/posix/paths.h"

namespace posixport {
namespace {
std::FILE* g_out = nullptr;
std::FILE* g_err = nullptr;
}  // namespace

void SetConsole(std::FILE* out, std::FILE* err) {
    g_out = out;
    g_err = err;
}

}  // namespace posixport

namespace ui {
namespace {

bool g_quitPosted = false;

std::FILE* Out() { return posixport::g_out ? posixport::g_out : stdout; }
std::FILE* Err() { return posixport::g_err ? posixport::g_err : stderr; }

void WaitForEnter() {
    if (!::isatty(STDIN_FILENO)) return;
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
}

void WriteBox(std::FILE* f, const std::wstring& caption, const std::wstring& text) {
    std::fprintf(f, "%s\n%s\n[OK]\n", posixport::Utf8(caption).c_str(),
                 posixport::Utf8(text).c_str());
    std::fflush(f);
    WaitForEnter();
}

// Nothing to draw: the terminal shows only the boxes.
class ConsoleWindow final : public MainWindow {
public:
    void Show() override {}
};

}  // namespace

std::unique_ptr<MainWindow> CreateMainWindow(const FormLayout&, ClickSink) {
    g_quitPosted = false;
    return std::make_unique<ConsoleWindow>();
}

void SetApplicationIcon(const wchar_t*) {}

void ShowMessageBox(const std::wstring& caption, const std::wstring& text, int, int) {
    WriteBox(Out(), caption, text);
}

void ShowErrorBox(const std::wstring& caption, const std::wstring& text) {
    WriteBox(Err(), caption, text);
}

void PostQuit() { g_quitPosted = true; }

// Without a posted quit the run failed: the window would stay until closed,
// so wait for the user the same way.
void RunLoop() {
    if (!g_quitPosted) WaitForEnter();
    g_quitPosted = false;
}

}  // namespace ui
