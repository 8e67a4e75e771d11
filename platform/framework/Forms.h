// Forms and the application object: the message loop, the main form, and the standard error
// report that shows an exception's message in a message box.
#pragma once

#include "platform/framework/Controls.h"

#include <memory>

using TKeyPressEvent = std::function<void(TObject* sender, char16_t& key)>;

// No X server could be reached: the message names the display that was tried.
SKYVIEW_EXCEPTION(ENoDisplay, Exception)

enum TPosition : uint8_t { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly };

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;
    const char* ClassName() const override { return "TForm"; }

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& caption);
    // There is no window frame here: the client area is the whole window.
    int ClientWidth() const { return Width(); }
    int ClientHeight() const { return Height(); }
    void SetClientWidth(int value) { SetWidth(value); }
    void SetClientHeight(int value) { SetHeight(value); }
    bool KeyPreview() const { return FKeyPreview; }
    void SetKeyPreview(bool value) { FKeyPreview = value; }
    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition value) { FPosition = value; }
    // Density the stored sizes were made for; Loaded scales the form and its children to the
    // screen's.
    int PixelsPerInch() const { return FPixelsPerInch; }
    void SetPixelsPerInch(int value) { FPixelsPerInch = value; }

    void Show();
    void Hide();
    void Close();
    // Runs the create event under the form's guard: an error of any class goes to the standard
    // error report.
    void AfterConstruction();
    void Loaded() override;

    TNotifyEvent OnCreate;
    TNotifyEvent OnPaint;
    TKeyPressEvent OnKeyPress;

protected:
    void CreateParams(TCreateParams& params) override;
    void DestroyWnd() override;
    void WndProc(TMessage& message) override;
    void WMChar(TMessage& message) override;
    void WMDestroy(TMessage& message) override;
    virtual void KeyPress(char16_t& key);
    // The paint hook: fires OnPaint.
    virtual void Paint();

private:
    void ScaleToScreen();

    std::string FCaption;
    bool FDestroyingWnd = false;
    bool FKeyPreview = false;
    TPosition FPosition = poDefaultPosOnly;
    int FPixelsPerInch = 96;
};

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;
    const char* ClassName() const override { return "TApplication"; }

    // The application object of the running program (none outside Run's lifetime).
    static TApplication* Instance();

    // Connects to the display, so that a program without one stops before it builds anything;
    // raises ENoDisplay when there is none.
    void Initialize();
    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& title) { FTitle = title; }
    bool MainFormOnTaskBar() const { return FMainFormOnTaskBar; }
    void SetMainFormOnTaskBar(bool value) { FMainFormOnTaskBar = value; }
    TForm* MainForm() const { return FMainForm; }

    // Creates a form owned by the application; the first one becomes the main form.
    template <typename T> T* CreateForm() {
        auto* form = new T(this);
        if (!FMainForm)
            FMainForm = form;
        form->AfterConstruction();
        return form;
    }
    // Shows the main form and dispatches messages until the main form closes (or its window is
    // destroyed); an error a message raises, of any class, goes to the standard error report.
    void Run();
    void Terminate();
    bool Terminated() const { return FTerminated; }

    // The standard error report: a modal box with the exception's message.
    void ShowException(const Exception& error);
    // Reports the exception being handled: the framework's own as they are, std::bad_alloc as
    // EOutOfMemory, any other with its text.
    void HandleException(TObject* sender);

    // Runs the program's main block (initialisation, forms, message loop) as the runtime runs a
    // program: an exception that escapes it is written to standard error as one line, the
    // title and the message, and shown by the standard error report where a window can still
    // be shown. Returns the exit status: 0, or 1 after such an exception.
    int Execute(const std::function<void()>& mainBlock);

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    void DispatchOne(const MSG& message);

    std::string FTitle = "skyview";
    bool FMainFormOnTaskBar = false;
    TForm* FMainForm = nullptr;
    bool FTerminated = false;
};
