// The application's standard error report: errors of the create event and of message handling
// end in a message box titled with the program's name, and the program goes on.
#include "platform/framework/Forms.h"
#include "platform/win32/WinUser.h"
#include "tests/support/WindowState.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class TFailingForm : public TForm {
public:
    explicit TFailingForm(TComponent* owner) : TForm(owner) {
        SetBounds(0, 0, 100, 80);
        OnCreate = [](TObject*) { throw Exception("File not found: \"missing.3ds\""); };
        OnKeyPress = [](TObject*, char16_t&) { throw EConvertError("bad key"); };
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
    PostMessage(form->Handle(), WM_CHAR, 'a', 0);
    PostMessage(form->Handle(), WM_CLOSE, 0, 0);
    application.Run(); // headless: returns once the queue is empty or the form closed
    EXPECT_EQ(MessageBoxRecord().Count, 2) << "the create event's error, then the key's";
    EXPECT_EQ(MessageBoxRecord().Text, "bad key");
    EXPECT_TRUE(application.Terminated()) << "the message after the failing one still arrived";
}

TEST(StandardErrorReport, NonFrameworkErrorsAreNotSwallowed) {
    TApplication application;
    TForm form(&application);
    form.OnCreate = [](TObject*) { throw std::runtime_error("not ours"); };
    EXPECT_THROW(form.AfterConstruction(), std::runtime_error);
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
