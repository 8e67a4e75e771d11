// Start-up where things go wrong, as a user meets it: X servers that cannot give OpenGL, too
// little memory for the model, the window destroyed by another client, a model that is a pipe;
// and the screens and drivers that must still draw the scene.
#include "tests/support/Process.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/Writer3DS.h"
#include "tests/support/XClient.h"
#include "tests/support/XServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace {

using TVariables = std::vector<std::pair<std::string, std::optional<std::string>>>;

bool IsRed(TRgb p) {
    return p.R > 40 && p.R > 3 * (p.G + 4) && p.R > 3 * (p.B + 4);
}

// The program started as a user starts it, in a directory of its own, on the test program's
// display or on a server of the run's own, with these variables set; its message boxes are
// answered with Return and their texts kept.
class TSkyviewRun {
public:
    explicit TSkyviewRun(const std::vector<std::string>& server = {}, TVariables variables = {})
        : FServer(server.empty() ? nullptr : std::make_unique<TXvfb>(server)),
          FDisplay(FServer ? FServer->Display() : std::getenv("DISPLAY")),
          FVariables(std::move(variables)), Screen(FDisplay.c_str()) {}

    std::filesystem::path Model() const { return FDirectory.Path() / "Anime-Pause.3ds"; }
    void CopyShippedModel() const {
        std::filesystem::copy_file(SKYVIEW_DATA_DIR "/Anime-Pause.3ds", Model());
    }

    // Starts the program and answers each box until the main window shows (which it returns)
    // or the program ends. A data limit holds until the first report; an address-space limit
    // is set as `prlimit --as` sets it, for good.
    std::optional<TWindowInfo> Start(std::optional<uint64_t> dataLimit = {},
                                     std::optional<uint64_t> addressSpaceLimit = {}) {
        TProcessOptions options{FVariables, true, dataLimit};
        options.Environment.emplace_back("DISPLAY", FDisplay);
        std::string program = SkyviewProgram();
        std::vector<std::string> arguments;
        if (addressSpaceLimit) {
            arguments = {"--as=" + std::to_string(*addressSpaceLimit), "--", program};
            program = "/usr/bin/prlimit";
        }
        Program = std::make_unique<TProcess>(program, arguments, FDirectory.Path().string(),
                                             options);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (; Program->Running() && std::chrono::steady_clock::now() < deadline;
             std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
            if (auto form = Screen.FindWindow("Form1"))
                return form;
            AnswerBox();
        }
        return std::nullopt;
    }

    // Answers the boxes that come until none has come for `quiet`.
    void AnswerReports(std::chrono::milliseconds quiet) {
        auto lastReport = std::chrono::steady_clock::now();
        for (; Program->Running() && std::chrono::steady_clock::now() - lastReport < quiet;
             std::this_thread::sleep_for(std::chrono::milliseconds(50)))
            if (AnswerBox())
                lastReport = std::chrono::steady_clock::now();
    }

    // The form's view once a frame has been drawn on it: the form's background and the black
    // of a new window give way to the scene.
    std::optional<TWindowInfo> SceneShown(const TWindowInfo& form) {
        const auto children = Screen.Children(form.Id);
        for (int i = 0; children.size() == 1 && i < 400; ++i) {
            const TRgb pixel = Screen.Pixel(children[0].Id, 350, 200);
            if (pixel != TRgb{240, 240, 240} && pixel != TRgb{0, 0, 0})
                return children[0];
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::nullopt;
    }

    // The status, the whole of standard error, and nothing of the program left running.
    void ExpectEnd(int status, const std::string& standardError) {
        const auto ended = Program->Wait(30);
        ASSERT_TRUE(ended.has_value()) << "the program did not end";
        EXPECT_EQ(*ended, status);
        EXPECT_EQ(Program->StandardError(), standardError);
        EXPECT_FALSE(Program->GroupAlive()) << "a process of the program was left running";
    }
    void CloseAndExpectCleanEnd(const TWindowInfo& form) {
        Screen.SendClose(form.Id);
        ExpectEnd(0, "");
    }

private:
    // Keeps the text of a box not yet answered and answers it.
    bool AnswerBox() {
        const auto box = Screen.FindWindow("skyview");
        if (!box || !FAnswered.insert(box->Id).second)
            return false;
        Program->LiftDataLimit();
        Reports.push_back(Screen.TextProperty(box->Id, "_SKYVIEW_MESSAGE_TEXT").value());
        Screen.SendKey(box->Id, "Return");
        return true;
    }

    std::unique_ptr<TXvfb> FServer; // first: it outlives every connection to it
    std::string FDisplay;
    TVariables FVariables;
    TScratchDirectory FDirectory;
    std::set<unsigned long> FAnswered;

public:
    TXClient Screen;
    std::unique_ptr<TProcess> Program;
    std::vector<std::string> Reports;
};

// An X server without GLX, indirect rendering the server refuses, an OpenGL older than 1.1, an
// address space too small for the driver to create a context in: one report, the same line on
// standard error, status 1.
TEST(StartUp, WithoutAUsableOpenGLItReportsTheErrorAndEndsWithOne) {
    struct TCase {
        std::vector<std::string> Server;
        TVariables Variables;
        std::string Message;
        std::optional<uint64_t> AddressSpaceLimit;
    };
    const TCase cases[] = {
        {{"-extension", "GLX"}, {}, "OS Error : The pixel format is invalid.", {}},
        {{}, {{"LIBGL_ALWAYS_INDIRECT", "1"}}, "OS Error : The handle is invalid.", {}},
        {{}, {{"MESA_GL_VERSION_OVERRIDE", "1.0"}}, "Need at least OpenGL version 1.1", {}},
        {{}, {}, "OS Error : The handle is invalid.", uint64_t{240} << 20},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Message);
#if defined(__SANITIZE_ADDRESS__)
        if (c.AddressSpaceLimit)
            continue; // AddressSanitizer maps more memory than any limit allows
#endif
        TSkyviewRun run(c.Server, c.Variables);
        run.CopyShippedModel();
        EXPECT_FALSE(run.Start({}, c.AddressSpaceLimit)) << "the window showed";
        EXPECT_EQ(run.Reports, std::vector<std::string>{c.Message});
        run.ExpectEnd(1, "skyview: " + c.Message + "\n");
    }
}

// 14 MB of small meshes that take far more memory than that to convert.
void WriteManyMeshes(const std::filesystem::path& file) {
    TWriter3DS writer;
    writer.Begin(M3DMAGIC).Begin(MDATA);
    TMesh3DS box = BoxMesh3DS("");
    for (int i = 0; i < 40000; ++i) {
        box.NameStr = "Box" + std::to_string(i);
        writer.Mesh(box);
    }
    const std::vector<uint8_t>& bytes = writer.End().End().Data();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// 14 MB of 50 large meshes, a million faces, which read into little more than that and compile
// into lists of hundreds of megabytes.
void WriteLargeMeshes(const std::filesystem::path& file) {
    TWriter3DS writer;
    writer.Begin(M3DMAGIC).Begin(MDATA).Material(Material3DS("Grey", {0.5f, 0.5f, 0.5f}, ""));
    for (int i = 0; i < 50; ++i)
        writer.Mesh(GridMesh3DS("Grid" + std::to_string(i), 100, 100, "Grey"));
    const std::vector<uint8_t>& bytes = writer.End().End().Data();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// With memory for the scene but not for the model, the load is reported as any failed load and
// the scene shows without the model. The limit is on data memory, which the program's need can
// be measured in (its address space holds reservations of the driver that vary between runs),
// and it is lifted once the load has failed: what the load freed may be too scattered for the
// first frame's textures, which would make another report.
TEST(StartUp, RunningOutOfMemoryForTheModelIsReportedAndTheSceneShows) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer maps more memory than any limit allows";
#endif
    uint64_t need = 0;
    {
        TSkyviewRun run;
        const auto form = run.Start();
        ASSERT_TRUE(form && run.SceneShown(*form));
        need = run.Program->DataSize();
        run.CloseAndExpectCleanEnd(*form);
    }
    TSkyviewRun run;
    WriteManyMeshes(run.Model());
    const auto form = run.Start(need + (uint64_t{48} << 20));
    ASSERT_TRUE(form);
    EXPECT_EQ(run.Reports, std::vector<std::string>{"Not enough memory to complete operation."});
    EXPECT_TRUE(run.SceneShown(*form)) << "the scene is not drawn";
    run.CloseAndExpectCleanEnd(*form);
}

// The same under a limit on address space that holds throughout, a little above what the scene
// with the shipped model maps under a limit that it does not reach (the program manages its
// memory differently under a limit): the driver keeps what the scene needs, and the model that
// does not fit, in its reading or in its display list, is reported once and left out.
TEST(StartUp, UnderAnAddressSpaceLimitTheModelThatDoesNotFitIsLeftOut) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer maps more memory than any limit allows";
#endif
    uint64_t peak = 0;
    {
        TSkyviewRun run;
        run.CopyShippedModel();
        const auto form = run.Start({}, uint64_t{16} << 30);
        ASSERT_TRUE(form && run.SceneShown(*form));
        peak = run.Program->AddressSpacePeak();
        run.CloseAndExpectCleanEnd(*form);
    }
    TSkyviewRun run;
    WriteLargeMeshes(run.Model());
    const auto form = run.Start({}, peak + (uint64_t{48} << 20));
    ASSERT_TRUE(form);
    const auto view = run.SceneShown(*form);
    ASSERT_TRUE(view) << "the scene is not drawn";
    run.AnswerReports(std::chrono::seconds(2));
    EXPECT_EQ(run.Reports, std::vector<std::string>{"Not enough memory to complete operation."});
    int width = 0, height = 0;
    const std::vector<TRgb> pixels = run.Screen.Capture(view->Id, width, height);
    EXPECT_LT(std::count_if(pixels.begin(), pixels.end(), IsRed), 200) << "a copy is drawn";
    run.CloseAndExpectCleanEnd(*form);
}

// Some tools and window managers destroy another client's window: the program then ends as when
// its window is closed.
TEST(StartUp, TheMainWindowDestroyedByAnotherClientEndsTheProgram) {
    TSkyviewRun run;
    run.CopyShippedModel();
    const auto form = run.Start();
    ASSERT_TRUE(form && run.SceneShown(*form));
    run.Screen.DestroyWindow(form->Id);
    run.ExpectEnd(0, "");
}

// A FIFO that nobody writes to as the model: no wait, one report, the scene.
TEST(StartUp, AModelThatIsAFifoWithoutAWriterIsReportedAtOnce) {
    TSkyviewRun run;
    ASSERT_EQ(mkfifo(run.Model().c_str(), 0600), 0);
    const auto form = run.Start();
    ASSERT_TRUE(form);
    EXPECT_EQ(run.Reports, std::vector<std::string>{"Cannot open file \"Anime-Pause.3ds\". No "
                                                    "process writes to the pipe."});
    EXPECT_TRUE(run.SceneShown(*form));
    run.CloseAndExpectCleanEnd(*form);
}

// A 16-bit screen and the softpipe driver draw the scene with the models.
TEST(StartUp, ASixteenBitScreenAndTheSoftpipeDriverDrawTheScene) {
    struct TCase {
        std::vector<std::string> Server;
        TVariables Variables;
        const char* Screenshot;
    };
    const TCase cases[] = {
        {{"-screen", "0", "1280x1024x16"}, {}, "skyview-16-bit.png"},
        {{}, {{"GALLIUM_DRIVER", "softpipe"}}, "skyview-softpipe.png"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Screenshot);
        TSkyviewRun run(c.Server, c.Variables);
        run.CopyShippedModel();
        const auto form = run.Start();
        ASSERT_TRUE(form);
        EXPECT_TRUE(run.Reports.empty());
        const auto view = run.SceneShown(*form);
        ASSERT_TRUE(view);
        run.Screen.SavePng(form->Id, c.Screenshot);
        int width = 0, height = 0;
        const std::vector<TRgb> pixels = run.Screen.Capture(view->Id, width, height);
        EXPECT_GT(std::count_if(pixels.begin(), pixels.end(), IsRed), 2000) << "the red copy";
        run.CloseAndExpectCleanEnd(*form);
    }
}

} // namespace
