#include "platform/framework/Forms.h"

#include "platform/win32/WinUser.h"

#include <cstdio>
#include <new>

namespace {

TApplication* Application = nullptr;

constexpr const char* SUnknownException = "Unknown exception";

// Passes the exception being handled to `report` as one of the framework's.
template <typename TReport> void ReportCurrentException(TReport report) {
    try {
        throw;
    } catch (const Exception& error) {
        report(error);
    } catch (const std::bad_alloc&) {
        report(EOutOfMemory(SOutOfMemory));
    } catch (const std::exception& error) {
        report(Exception(error.what()));
    } catch (...) {
        report(Exception(SUnknownException));
    }
}

} // namespace

// --- TForm ---------------------------------------------------------------------------------------

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    SetVisible(false);
    SetColor(clBtnFace);
}

TForm::~TForm() {
    DestroyHandle();
}

void TForm::SetCaption(const std::string& caption) {
    FCaption = caption;
    if (HandleAllocated())
        SetWindowText(Handle(), caption.c_str());
}

void TForm::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.Caption = FCaption;
    params.Style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    if (TApplication* app = TApplication::Instance();
        app && app->MainForm() == this && app->MainFormOnTaskBar())
        params.ExStyle |= WS_EX_APPWINDOW;
    if (FPosition == poDefault || FPosition == poDefaultPosOnly)
        params.X = params.Y = CW_USEDEFAULT;
}

void TForm::Loaded() {
    TWinControl::Loaded();
    ScaleToScreen();
}

void TForm::ScaleToScreen() {
    const int dpi = GetScreenDpi();
    if (dpi == FPixelsPerInch || FPixelsPerInch <= 0)
        return;
    auto scale = [&](int value) { return value * dpi / FPixelsPerInch; };
    SetBounds(Left(), Top(), scale(Width()), scale(Height()));
    for (int i = 0; i < ControlCount(); ++i) {
        TControl* child = Controls(i);
        child->SetBounds(scale(child->Left()), scale(child->Top()), scale(child->Width()),
                         scale(child->Height()));
    }
    FPixelsPerInch = dpi;
}

void TForm::Show() {
    SetVisible(true);
    ShowWindow(Handle(), SW_SHOW);
}

void TForm::Hide() {
    SetVisible(false);
    if (HandleAllocated())
        ShowWindow(Handle(), SW_HIDE);
}

void TForm::Close() {
    TApplication* app = TApplication::Instance();
    if (app && app->MainForm() == this)
        app->Terminate();
    else
        Hide();
}

void TForm::AfterConstruction() {
    if (!OnCreate)
        return;
    try {
        OnCreate(this);
    } catch (...) {
        if (TApplication* app = TApplication::Instance())
            app->HandleException(this);
        else
            throw;
    }
}

void TForm::DestroyWnd() {
    TFlagScope destroying(FDestroyingWnd);
    TWinControl::DestroyWnd();
}

void TForm::WMDestroy(TMessage& message) {
    TWinControl::WMDestroy(message);
    // The window went without the form asking (another client destroyed it): for the main form
    // that ends the program, as closing it would.
    TApplication* app = TApplication::Instance();
    if (!FDestroyingWnd && app && app->MainForm() == this)
        app->Terminate();
}

void TForm::WndProc(TMessage& message) {
    if (message.Msg == WM_CLOSE) {
        Close();
        message.Result = 0;
        return;
    }
    TWinControl::WndProc(message);
}

void TForm::WMChar(TMessage& message) {
    char16_t key = static_cast<char16_t>(message.WParam);
    KeyPress(key);
    message.Result = 0;
}

void TForm::KeyPress(char16_t& key) {
    if (OnKeyPress)
        OnKeyPress(this, key);
}

void TForm::Paint() {
    if (OnPaint)
        OnPaint(this);
}

// --- TApplication --------------------------------------------------------------------------------

TApplication::TApplication() : TComponent(nullptr) {
    Application = this;
}

TApplication::~TApplication() {
    // Windows go first, while every component is still whole; then the components.
    for (int i = ComponentCount() - 1; i >= 0; --i)
        if (auto* form = dynamic_cast<TForm*>(Components(i)))
            form->DestroyHandle();
    FMainForm = nullptr;
    Application = nullptr;
}

TApplication* TApplication::Instance() {
    return Application;
}

void TApplication::Initialize() {
    FTerminated = false;
    if (Win32OpenDisplay())
        return;
    const std::string name = Win32DisplayName();
    throw ENoDisplay("cannot open display \"" + name + "\"" +
                     (name.empty() ? " (DISPLAY is not set)" : ""));
}

void TApplication::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == opRemove && component == FMainForm)
        FMainForm = nullptr;
}

void TApplication::Terminate() {
    if (!FTerminated)
        PostQuitMessage(0);
    FTerminated = true;
}

void TApplication::DispatchOne(const MSG& message) {
    try {
        TranslateMessage(&message);
        DispatchMessage(&message);
    } catch (...) {
        HandleException(this);
    }
}

void TApplication::Run() {
    // The main form may be gone already, its window destroyed while it was being created.
    if (!FMainForm || FTerminated)
        return;
    FMainForm->Show();
    MSG message;
    while (GetMessage(&message, nullptr, 0, 0))
        DispatchOne(message);
}

void TApplication::ShowException(const Exception& error) {
    HWND owner = (FMainForm && FMainForm->HandleAllocated()) ? FMainForm->Handle() : nullptr;
    MessageBox(owner, error.Message().c_str(), FTitle.c_str(), MB_OK | MB_ICONERROR);
}

void TApplication::HandleException(TObject*) {
    ReportCurrentException([this](const Exception& error) { ShowException(error); });
}

int TApplication::Execute(const std::function<void()>& mainBlock) {
    try {
        mainBlock();
        return 0;
    } catch (...) {
        ReportCurrentException([this](const Exception& error) {
            // The line first: it is there even when no box can be shown, or nobody answers it.
            std::fprintf(stderr, "%s: %s\n", FTitle.c_str(), error.Message().c_str());
            std::fflush(stderr);
            try {
                if (Win32DisplayOpen())
                    ShowException(error);
            } catch (...) {
                // Nothing is left to report with; the line has been written.
            }
        });
        return 1;
    }
}
