// The application's standard error report: errors of the create event and of message handling
// end in a message box titled with the program's name, and the program goes on.
#include "platform/framework/Forms.h"
#include "platform/win32/WinUser.h"
#include "tests/support/WindowState.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>

namespace {

class TFailingForm : public TForm {
public:
    explicit TFailingForm(TComponent* owner) : TForm(owner) {
        SetBounds(0, 0, 100, 80);
        OnCreate = [](TObject*) { throw Exception("File not found: \"missing.3ds\""); };
        OnKeyPress = [](TObject*, char16_t& key) {
            if (key == 'm')
                throw std::bad_alloc();
            throw EConvertError("bad key");
        };
    }
};

TEST(StandardErrorReport, ShowsTheCreateEventsErrorAndCarriesOn) {
    MessageBoxRecord() = {};
    TApplication application;
    application.Initialize();
    TFailingForm* form = application.CreateForm<TFailingForm>();
    EXPECT_EQ(application.MainForm(), form);
    EXPECT_EQ(MessageBoxRecord().Count, 1);
    EXPECT_EQ(MessageBoxRecord().Text, "File not found: \"missing.3ds\"");
    EXPECT_EQ(MessageBoxRecord().Caption, "skyview");
}

TEST(StandardErrorReport, ShowsErrorsOfMessageHandlingAndTheLoopGoesOn) {
    MessageBoxRecord() = {};
    TApplication application;
    TFailingForm* form = application.CreateForm<TFailingForm>();
    PostMessage(form->Handle(), WM_CHAR, 'm', 0);
    PostMessage(form->Handle(), WM_CHAR, 'a', 0);
    PostMessage(form->Handle(), WM_CLOSE, 0, 0);
    application.Run(); // headless: returns once the queue is empty or the form closed
    EXPECT_EQ(MessageBoxRecord().Count, 3) << "the create event's error, then the keys'";
    EXPECT_EQ(MessageBoxRecord().Text, "bad key");
    EXPECT_TRUE(application.Terminated()) << "the message after the failing one still arrived";
}

// Errors of every class, as the report shows them.
struct TRaised {
    const char* Name;
    std::function<void()> Raise;
    const char* Shown;
};

const TRaised RaisedErrors[] = {
    {"framework", [] { throw EOSError("OS Error : The pixel format is invalid."); },
     "OS Error : The pixel format is invalid."},
    {"bad_alloc", [] { throw std::bad_alloc(); }, "Not enough memory to complete operation."},
    {"std", [] { throw std::runtime_error("not ours"); }, "not ours"},
    {"other", [] { throw 42; }, "Unknown exception"},
};

TEST(StandardErrorReport, TheCreateEventsGuardReportsErrorsOfEveryClass) {
    for (const TRaised& raised : RaisedErrors) {
        MessageBoxRecord() = {};
        TApplication application;
        TForm form(&application);
        form.OnCreate = [&raised](TObject*) { raised.Raise(); };
        EXPECT_NO_THROW(form.AfterConstruction()) << raised.Name;
        EXPECT_EQ(MessageBoxRecord().Count, 1) << raised.Name;
        EXPECT_EQ(MessageBoxRecord().Text, raised.Shown);
    }
    // Without an application nobody can report it: it goes to the caller.
    TForm orphan(nullptr);
    orphan.OnCreate = [](TObject*) { throw std::bad_alloc(); };
    EXPECT_THROW(orphan.AfterConstruction(), std::bad_alloc);
}

// What escapes the program's main block is written to standard error and shown, and the
// program's status is 1; a block that ends normally gives 0 and reports nothing.
TEST(StandardErrorReport, ExecuteReportsWhatEscapesTheMainBlock) {
    for (const TRaised& raised : RaisedErrors) {
        MessageBoxRecord() = {};
        TApplication application;
        testing::internal::CaptureStderr();
        const int status = application.Execute(raised.Raise);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  std::string("skyview: ") + raised.Shown + "\n");
        EXPECT_EQ(status, 1) << raised.Name;
        EXPECT_EQ(MessageBoxRecord().Count, 1) << raised.Name;
        EXPECT_EQ(MessageBoxRecord().Text, raised.Shown);
    }
    MessageBoxRecord() = {};
    TApplication application;
    testing::internal::CaptureStderr();
    EXPECT_EQ(application.Execute([] {}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(MessageBoxRecord().Count, 0);
}

// Another client may destroy the main form's window: the program then ends, as when the form is
// closed. The form's own destruction of its window (re-creation, shut-down) ends nothing.
TEST(MainForm, ItsWindowDestroyedFromOutsideEndsTheProgram) {
    TApplication application;
    TForm* main = application.CreateForm<TForm>();
    TForm* other = application.CreateForm<TForm>();
    main->RecreateWnd();
    main->DestroyHandle();
    DestroyWindow(other->Handle());
    EXPECT_FALSE(application.Terminated());
    DestroyWindow(main->Handle());
    EXPECT_FALSE(main->HandleAllocated());
    EXPECT_TRUE(application.Terminated());
    MSG message{};
    EXPECT_FALSE(GetMessage(&message, nullptr, 0, 0));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
}

} // namespace

// Outside headless mode the application connects at once and names the display it could not
// reach; the caller decides how to tell (the program prints it and exits).
TEST(ApplicationDisplay, InitializeNamesTheDisplayItCouldNotOpen) {
    struct TCase {
        const char* Display; // nullptr: unset
        const char* Message;
    };
    const TCase cases[] = {
        {":65000", "cannot open display \":65000\""},
        {nullptr, "cannot open display \"\" (DISPLAY is not set)"},
    };
    const char* saved = std::getenv("DISPLAY");
    const std::string previous = saved ? saved : "";
    for (const TCase& c : cases) {
        c.Display ? setenv("DISPLAY", c.Display, 1) : unsetenv("DISPLAY");
        SetHeadless(false);
        TApplication application;
        std::string message;
        try {
            application.Initialize();
        } catch (const ENoDisplay& error) {
            message = error.Message();
        }
        SetHeadless(true);
        EXPECT_EQ(message, c.Message);
    }
    saved ? setenv("DISPLAY", previous.c_str(), 1) : unsetenv("DISPLAY");
    EXPECT_TRUE(Win32OpenDisplay()) << "headless mode needs no display";
}
