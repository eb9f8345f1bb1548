// The small application framework the installer shell stands on: the
// application object, forms with click handlers, and the message box.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui.h"

class TObject {
public:
    virtual ~TObject() = default;
};

class TButton : public TObject {
public:
    std::function<void(TObject* Sender)> OnClick;
    // Runs the click handler in the caller's frame, as a user's click would.
    void Click() {
        if (OnClick) OnClick(this);
    }
};

class TForm : public TObject {
public:
    virtual void FormCreate(TObject* Sender) = 0;
    void Show();

protected:
    // Builds the window; user clicks on `buttons` reach their handlers.
    void CreateWindowFrom(const ui::FormLayout& layout, std::vector<TButton*> buttons);

private:
    std::unique_ptr<ui::MainWindow> window_;
    std::vector<TButton*> buttons_;
};

class TApplication {
public:
    explicit TApplication(const std::wstring& exePath);

    std::wstring Title;
    bool MainFormOnTaskBar = false;
    bool ShowMainForm = true;

    void Initialize();
    template <class Form>
    void CreateForm(Form*& reference) {
        auto form = std::make_unique<Form>();
        reference = form.get();
        AddForm(std::move(form));
    }
    void Run();
    void Terminate();
    void ShowException(std::exception_ptr error);

    // A run that reported an error exits 1, so it never looks like success.
    int ExitCode() const { return failed_ ? 1 : 0; }

private:
    void AddForm(std::unique_ptr<TForm> form);

    std::vector<std::unique_ptr<TForm>> forms_;
    TForm* mainForm_ = nullptr;
    bool failed_ = false;
};

extern TApplication* Application;

void ShowMessagePos(const std::wstring& text, int x, int y);
