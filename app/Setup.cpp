// The program: one application object, one main window whose creation runs
// the whole installation, and the run loop.
#include "app/Errors.h"
#include "app/Unit1.h"
#include "platform/process.h"
#include "platform/startup.h"

int Setup() {
    TApplication application(process::ExecutablePath());
    Application = &application;
    int exitCode = 1;
    try {
        Application->Initialize();
        Application->MainFormOnTaskBar = true;
        Application->CreateForm(Form1);
        Application->Run();
        exitCode = Application->ExitCode();
    } catch (...) {
        Application->ShowException(std::current_exception());
    }
    Form1 = nullptr;
    Application = nullptr;
    return exitCode;
}
