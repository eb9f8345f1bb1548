#include "app/Forms.h"

#include "app/Errors.h"

TApplication* Application = nullptr;

void TForm::CreateWindowFrom(const ui::FormLayout& layout, std::vector<TButton*> buttons) {
    buttons_ = std::move(buttons);
    // Called from the window procedure: nothing may unwind out of it.
    window_ = ui::CreateMainWindow(layout, [this](std::size_t index) noexcept {
        try {
            if (index < buttons_.size()) buttons_[index]->Click();
        } catch (...) {
            Application->ShowException(std::current_exception());
        }
    });
}

void TForm::Show() {
    if (window_) window_->Show();
}

TApplication::TApplication(const std::wstring& exePath)
    : Title(ApplicationTitleFromPath(exePath)) {
    ui::SetApplicationIcon(L"MAINICON");
}

void TApplication::Initialize() {}

void TApplication::AddForm(std::unique_ptr<TForm> form) {
    TForm* created = form.get();
    forms_.push_back(std::move(form));
    if (!mainForm_) mainForm_ = created;
    // Whatever the creation handler raises ends here, not in the caller.
    try {
        created->FormCreate(created);
    } catch (...) {
        ShowException(std::current_exception());
    }
}

void TApplication::Run() {
    if (mainForm_ && ShowMainForm) mainForm_->Show();
    ui::RunLoop();
}

void TApplication::Terminate() { ui::PostQuit(); }

void TApplication::ShowException(std::exception_ptr error) {
    failed_ = true;
    ui::ShowErrorBox(Title, ErrorBoxText(error));
}

void ShowMessagePos(const std::wstring& text, int x, int y) {
    ui::ShowMessageBox(Application->Title, text, x, y);
}
