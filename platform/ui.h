// The window system as the installer shell uses it: one main window with
// hidden push buttons, two kinds of modal box and a run loop.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

struct ButtonLayout {
    const wchar_t* name;
    const wchar_t* caption;
    int left, top, width, height;  // 96-dpi pixels
    int tabOrder;
    bool visible;
};

struct FormLayout {
    const wchar_t* caption;
    int clientWidth, clientHeight;  // 96-dpi pixels
    const wchar_t* fontName;
    int fontPoints;
    std::vector<ButtonLayout> buttons;
};

// Called on a user's click of button `index`; it must not throw.
using ClickSink = std::function<void(std::size_t index)>;

class MainWindow {
public:
    virtual ~MainWindow() = default;
    // First show; honours the show command the process was started with.
    virtual void Show() = 0;
};

std::unique_ptr<MainWindow> CreateMainWindow(const FormLayout& layout, ClickSink onClick);

void SetApplicationIcon(const wchar_t* resourceName);

// Modal box with one OK button and no icon; x, y of -1 centre it on the
// monitor's work area.
void ShowMessageBox(const std::wstring& caption, const std::wstring& text, int x, int y);
// Modal system box with the stop icon and one OK button.
void ShowErrorBox(const std::wstring& caption, const std::wstring& text);

void PostQuit();
// Takes and dispatches messages until the quit message is taken.
void RunLoop();

}  // namespace ui
