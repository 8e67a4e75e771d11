// The skyview program, started as a user would start it and driven through the X server.
#include "tests/support/ImageCompare.h"
#include "tests/support/Process.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/XClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

constexpr TRgb ButtonFace{240, 240, 240};
constexpr TRgb Scribbled{255, 0, 255};

// The reference screenshot is kept as averages of 8 x 8 blocks of the view, which absorbs
// llvmpipe's rounding along edges; each copy of the model covers about 150 of its 4840 blocks.
// A block differs when a channel is more than 24 away; at most 1% of the blocks may differ.
constexpr int ReferenceBlock = 8;
constexpr int ReferenceTolerance = 24;
constexpr double ReferenceShare = 0.01;
const char* const ReferencePath = SKYVIEW_REFERENCE_DIR "/with-model.png";

// What a frame draws, rather than the form's background or the black of a view not drawn yet.
bool IsScene(TRgb pixel) {
    return pixel != ButtonFace && pixel != TRgb{0, 0, 0};
}

// The program started in an empty directory: it reports the missing model before its window
// appears, and the fixture answers that as a user would, keeping what each report said.
struct SkyviewE2E : ::testing::Test {
    TScratchDirectory directory;
    std::unique_ptr<TXClient> screen;
    std::unique_ptr<TProcess> program;
    std::vector<std::string> reports;
    TWindowInfo form;
    TWindowInfo view;

    void SetUp() override {
        screen = std::make_unique<TXClient>();
        program = std::make_unique<TProcess>(SkyviewProgram(), std::vector<std::string>{},
                                             directory.Path().string());
        const auto found = AnswerReportsUntilShown("Form1", 30);
        ASSERT_TRUE(found) << "no window titled Form1 appeared";
        form = *found;
        const auto children = screen->Children(form.Id);
        ASSERT_EQ(children.size(), 1u) << "the form holds the view and nothing else";
        view = children[0];
    }
    void TearDown() override { program.reset(); }

    // Presses Return in every message box that comes up until the window with this title shows.
    std::optional<TWindowInfo> AnswerReportsUntilShown(const std::string& title, double seconds) {
        std::set<unsigned long> answered;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto shown = screen->FindWindow(title))
                return shown;
            const auto box = screen->FindWindow("skyview");
            if (box && answered.insert(box->Id).second) {
                reports.push_back(
                    screen->TextProperty(box->Id, "_SKYVIEW_MESSAGE_TEXT").value_or("(no text)"));
                screen->SendKey(box->Id, "Return");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::nullopt;
    }

    // The share of the view's pixels that show the form's background colour. The sky box
    // surrounds the camera, so wherever it looks nothing of the background is left; a picture
    // may hold a few pixels of that colour.
    double BackgroundShare() {
        int width = 0, height = 0;
        const std::vector<TRgb> pixels = screen->Capture(form.Id, width, height);
        const auto background = std::count(pixels.begin(), pixels.end(), ButtonFace);
        return pixels.empty() ? 1 : static_cast<double>(background) / pixels.size();
    }

    template <typename Predicate>
    bool WaitForPixel(unsigned long window, int x, int y, Predicate wanted, double seconds = 10) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (wanted(screen->Pixel(window, x, y)))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    bool WaitForPixel(unsigned long window, int x, int y, TRgb wanted, double seconds = 10) {
        return WaitForPixel(
            window, x, y, [wanted](TRgb pixel) { return pixel == wanted; }, seconds);
    }

    TImage ViewImage() {
        TImage image;
        image.Pixels = screen->Capture(view.Id, image.Width, image.Height);
        return image;
    }
    static TImage TopRows(TImage image, int rows) {
        image.Height = std::min(image.Height, rows);
        image.Pixels.resize(static_cast<size_t>(image.Width) * image.Height);
        return image;
    }
    // The share of the view's blocks that differ from the committed screenshot of the scene
    // with the shipped model (1 when it cannot be read); with SKYVIEW_WRITE_REFERENCE set, the
    // view becomes the new reference first.
    double ShareOffReference(const TImage& image) {
        const TImage blocks = BlockAverages(image, ReferenceBlock);
        if (std::getenv("SKYVIEW_WRITE_REFERENCE"))
            WritePng(ReferencePath, blocks.Pixels, blocks.Width, blocks.Height);
        const std::optional<TImage> reference = ReadPng(ReferencePath);
        return reference ? ShareDiffering(blocks, *reference, ReferenceTolerance) : 1;
    }
    void ExpectReference(const TImage& image) {
        ASSERT_TRUE(ReadPng(ReferencePath)) << "cannot read " << ReferencePath;
        const double share = ShareOffReference(image);
        EXPECT_LE(share, ReferenceShare)
            << "the view is not the reference; it is saved as skyview-reference-differs.png";
        if (share > ReferenceShare)
            WritePng("skyview-reference-differs.png", image.Pixels, image.Width, image.Height);
    }
    void ExpectNotReference(const char* why) {
        ASSERT_TRUE(ReadPng(ReferencePath)) << "cannot read " << ReferencePath;
        EXPECT_GT(ShareOffReference(ViewImage()), 2 * ReferenceShare) << why;
    }

    // Drawing of another client stays on the view until the program renders a frame, which
    // paints `drawn` at (10, 10) again: whether the key makes one.
    bool KeyMakesAFrame(const char* key, TRgb drawn) {
        screen->Scribble(view.Id, 0, 0, 40, 40);
        screen->SendKey(form.Id, key);
        return WaitForPixel(view.Id, 10, 10, drawn);
    }

    // CPU time the program uses while nobody does anything.
    long IdleTicks() {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const long before = program->CpuTicks();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return program->CpuTicks() - before;
    }

    void CloseAndExpectCleanExit() {
        screen->SendClose(form.Id);
        const auto status = program->Wait(20);
        ASSERT_TRUE(status.has_value()) << "the program did not end after its window was closed";
        EXPECT_EQ(*status, 0);
        EXPECT_FALSE(screen->FindWindow("skyview")) << "an error was reported";
    }
};

TEST_F(SkyviewE2E, OpensTheFormWithItsViewAndClosesCleanly) {
    EXPECT_EQ(form.Width, 702);
    EXPECT_EQ(form.Height, 435);
    EXPECT_EQ(view.X, 0);
    EXPECT_EQ(view.Y, 0);
    EXPECT_EQ(view.Width, 705);
    EXPECT_EQ(view.Height, 441);
    EXPECT_TRUE(WaitForPixel(view.Id, 350, 200, IsScene));
    EXPECT_LT(BackgroundShare(), 0.05) << "the sky box fills the view";
    screen->SavePng(form.Id, "skyview-startup.png");
    EXPECT_LE(IdleTicks(), 2) << "an idle viewer renders nothing";
    EXPECT_FALSE(screen->FindWindow("skyview")) << "no report but the missing model's";
    CloseAndExpectCleanExit();
}

// Without the model: one report naming the file, then the scene without the models, whose keys
// still make frames; none is made while idle.
TEST_F(SkyviewE2E, ReportsTheMissingModelOnceAndShowsTheSceneWithoutIt) {
    EXPECT_EQ(reports, std::vector<std::string>{"File not found: \"Anime-Pause.3ds\""});
    EXPECT_TRUE(WaitForPixel(view.Id, 350, 200, IsScene));
    EXPECT_LT(BackgroundShare(), 0.05) << "the sky box fills the view";
    EXPECT_LE(IdleTicks(), 2);
    ExpectNotReference("the reference screenshot is told apart from the scene without the models");

    // Drawing of another client stays on the view until the program renders a frame, which
    // draws the same picture again: the models it moves are not there.
    const TRgb drawn = screen->Pixel(view.Id, 10, 10);
    ASSERT_NE(drawn, Scribbled);
    screen->Scribble(view.Id, 0, 0, 40, 40);
    screen->SendKey(form.Id, "x"); // changes nothing
    EXPECT_LE(IdleTicks(), 2);
    EXPECT_EQ(screen->Pixel(view.Id, 10, 10), Scribbled) << "a frame without a change";
    for (const char* key : {"4", "6", "5", "8", "q", "d", "s", "z"})
        EXPECT_TRUE(KeyMakesAFrame(key, drawn)) << key << " makes no frame";
    screen->Scribble(view.Id, 0, 0, 40, 40);
    EXPECT_LE(IdleTicks(), 2) << "an idle viewer uses no CPU";
    EXPECT_EQ(screen->Pixel(view.Id, 10, 10), Scribbled) << "a frame while idle";
    EXPECT_FALSE(screen->FindWindow("skyview")) << "a second report";
    CloseAndExpectCleanExit();
}

TEST_F(SkyviewE2E, StaysResponsiveWhenMovedAndResized) {
    screen->MoveWindow(form.Id, 120, 80);
    screen->ResizeWindow(form.Id, 900, 600);
    screen->Sync();
    const auto moved = screen->WaitForWindow("Form1", 5);
    ASSERT_TRUE(moved);
    // The view keeps its size; the form's own background shows around it.
    EXPECT_TRUE(WaitForPixel(form.Id, 850, 550, ButtonFace));
    const auto children = screen->Children(form.Id);
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0].Width, 705);
    EXPECT_EQ(children[0].Height, 441);
    EXPECT_TRUE(WaitForPixel(view.Id, 10, 10, IsScene));
    EXPECT_LE(IdleTicks(), 2);
    CloseAndExpectCleanExit();
}

TEST_F(SkyviewE2E, TakesKeysAndDragsAndStaysIdleAfterwards) {
    for (const char* key :
         {"plus", "plus", "minus", "4", "6", "5", "8", "q", "d", "s", "z", "Q", "KP_Left", "x"})
        screen->SendKey(form.Id, key);
    screen->SendButton(view.Id, 300, 200, 1, true);
    for (int step = 1; step <= 20; ++step)
        screen->SendMotion(view.Id, 300 + 5 * step, 200 - 2 * step, 1u << 8);
    screen->SendButton(view.Id, 400, 160, 1, false);
    screen->Sync();
    // Wherever the drag took the camera, the sky box surrounds it.
    EXPECT_TRUE(WaitForPixel(view.Id, 10, 10, IsScene));
    EXPECT_LT(BackgroundShare(), 0.05);
    screen->SavePng(form.Id, "skyview-after-drag.png");
    EXPECT_TRUE(program->Running());
    EXPECT_LE(IdleTicks(), 2) << "nothing renders once the input has been handled";
    EXPECT_FALSE(screen->FindWindow("skyview")) << "an error was reported";
    CloseAndExpectCleanExit();
}

// Where the pixels that pass a test lie on the view, and how many there are.
struct TSpot {
    double X = -1, Y = -1;
    size_t Count = 0;
    bool operator==(const TSpot&) const = default;
};

// Started beside the shipped model: both copies stand on the floor inside the sky box, the red
// one on the left (x = -1), the dark one on the right (x = +1).
struct SkyviewWithModel : SkyviewE2E {
    void SetUp() override {
        std::filesystem::copy_file(SKYVIEW_DATA_DIR "/Anime-Pause.3ds",
                                   directory.Path() / "Anime-Pause.3ds");
        SkyviewE2E::SetUp();
    }
    static bool IsRed(TRgb p) { return p.R > 40 && p.R > 3 * (p.G + 4) && p.R > 3 * (p.B + 4); }
    static bool IsDark(TRgb p) { return std::max({p.R, p.G, p.B}) < 24; }
    TSpot Spot(bool (*wanted)(TRgb)) {
        const TImage image = ViewImage();
        double x = 0, y = 0;
        size_t count = 0;
        for (size_t i = 0; i < image.Pixels.size(); ++i)
            if (wanted(image.Pixels[i])) {
                x += static_cast<double>(i % static_cast<size_t>(image.Width));
                y += static_cast<double>(i / static_cast<size_t>(image.Width));
                ++count;
            }
        if (!count)
            return {};
        return {x / static_cast<double>(count), y / static_cast<double>(count), count};
    }
    // Waits until what `wanted` sees differs from `from` (the frame of the keys came), then
    // until it holds still, and returns it.
    TSpot Settled(bool (*wanted)(TRgb), TSpot from = {}) {
        TSpot last = Spot(wanted);
        for (int i = 0; i < 100 && last == from; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            last = Spot(wanted);
        }
        for (int i = 0; i < 100; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const TSpot now = Spot(wanted);
            if (now == last)
                return now;
            last = now;
        }
        return last;
    }
    TSpot Pressed(const char* key, int times, bool (*wanted)(TRgb)) {
        const TSpot before = Spot(wanted);
        for (int i = 0; i < times; ++i)
            screen->SendKey(form.Id, key);
        return Settled(wanted, before);
    }
};

TEST_F(SkyviewWithModel, ShowsBothCopiesAsTheReferenceScreenshotDoes) {
    EXPECT_TRUE(reports.empty()) << reports.front();
    ASSERT_TRUE(WaitForPixel(view.Id, 350, 200, IsScene));
    const TSpot red = Settled(IsRed);
    const TSpot dark = Spot(IsDark);
    screen->SavePng(form.Id, "skyview-with-model.png");
    EXPECT_GT(red.Count, 2000u) << "the red copy";
    EXPECT_GT(dark.Count, 2000u) << "the dark copy";
    EXPECT_LT(red.X, 352 - 60) << "the red copy stands left of the middle";
    EXPECT_GT(dark.X, 352 + 60) << "the dark copy stands right of the middle";
    EXPECT_LT(BackgroundShare(), 0.05);
    ExpectReference(ViewImage());
    EXPECT_LE(IdleTicks(), 2) << "nothing renders once the scene is shown";
    CloseAndExpectCleanExit();
}

TEST_F(SkyviewWithModel, KeysMoveTheCopiesAndTheCameraAndADragOrbits) {
    ASSERT_TRUE(WaitForPixel(view.Id, 350, 200, IsScene));
    const TSpot start = Settled(IsRed);
    const TSpot middle = Pressed("6", 10, IsRed);
    EXPECT_NEAR(middle.X, 352, 25) << "ten presses of 6 bring the red copy to the middle";
    EXPECT_NEAR(static_cast<double>(middle.Count), static_cast<double>(start.Count),
                0.25 * static_cast<double>(start.Count));

    // The dark copy: d and q move it along x, z and s along y.
    const TSpot dark = Settled(IsDark);
    const TSpot right = Pressed("d", 3, IsDark);
    EXPECT_GT(right.X, dark.X + 15) << "d moves the dark copy right";
    EXPECT_NEAR(Pressed("q", 3, IsDark).X, dark.X, 3) << "q moves it back";
    const TSpot up = Pressed("z", 3, IsDark);
    EXPECT_LT(up.Y, dark.Y - 10) << "z raises the dark copy";
    EXPECT_NEAR(up.X, dark.X, 3);
    EXPECT_NEAR(Pressed("s", 3, IsDark).Y, dark.Y, 3) << "s lowers it again";

    // The camera: + and - change the distance to the models; the sky box around the camera
    // stays as it was.
    const TImage sky = TopRows(ViewImage(), 60);
    const TSpot nearer = Pressed("plus", 3, IsRed);
    EXPECT_GT(static_cast<double>(nearer.Count), 1.3 * static_cast<double>(middle.Count))
        << "+ brings the camera closer";
    EXPECT_LE(ShareDiffering(TopRows(ViewImage(), 60), sky, 8), 0.01) << "+ moved the sky box";
    const TSpot farther = Pressed("minus", 3, IsRed);
    EXPECT_NEAR(static_cast<double>(farther.Count), static_cast<double>(middle.Count),
                0.1 * static_cast<double>(middle.Count))
        << "- takes the camera back";
    EXPECT_LE(ShareDiffering(TopRows(ViewImage(), 60), sky, 8), 0.01) << "- moved the sky box";
    EXPECT_LT(BackgroundShare(), 0.05) << "the sky box still fills the view";

    // A left-button drag orbits the camera around its target: the sky box turns with it.
    screen->SendButton(view.Id, 300, 200, 1, true);
    for (int step = 1; step <= 10; ++step)
        screen->SendMotion(view.Id, 300 + 3 * step, 200, 1u << 8);
    screen->SendButton(view.Id, 330, 200, 1, false);
    const TSpot orbited = Settled(IsRed, farther);
    EXPECT_NE(orbited, farther) << "the drag moved nothing";
    EXPECT_GT(ShareDiffering(TopRows(ViewImage(), 60), sky, 8), 0.3) << "the sky box stood";
    EXPECT_LT(BackgroundShare(), 0.05);
    EXPECT_LE(IdleTicks(), 2) << "nothing renders once the input has been handled";
    CloseAndExpectCleanExit();
}

// A model file cut short: the reader's one report, then the scene without either copy, as
// when the file is missing.
struct SkyviewWithBrokenModel : SkyviewWithModel {
    void SetUp() override {
        const auto model = directory.Path() / "Anime-Pause.3ds";
        std::filesystem::copy_file(SKYVIEW_DATA_DIR "/Anime-Pause.3ds", model);
        std::filesystem::resize_file(model, std::filesystem::file_size(model) / 3);
        SkyviewE2E::SetUp();
    }
};

TEST_F(SkyviewWithBrokenModel, ReportsTheReadersErrorOnceAndShowsTheSceneWithoutTheModels) {
    EXPECT_EQ(reports, std::vector<std::string>{
                           "An invalid Chunk structure was encountered while reading\rthe "
                           "database. Usually caused by a corrupt database or file."});
    ASSERT_TRUE(WaitForPixel(view.Id, 350, 200, IsScene));
    EXPECT_LT(BackgroundShare(), 0.05) << "the sky box fills the view";
    // The floor's compass needle is red too; a copy covers thousands of pixels.
    EXPECT_LT(Spot(IsRed).Count, 500u) << "the red copy is drawn";
    ExpectNotReference("the view shows the models");
    EXPECT_LE(IdleTicks(), 2);
    const TRgb drawn = screen->Pixel(view.Id, 10, 10);
    ASSERT_NE(drawn, Scribbled);
    EXPECT_TRUE(KeyMakesAFrame("6", drawn)) << "the model keys make no frame";
    EXPECT_LE(IdleTicks(), 2);
    EXPECT_FALSE(screen->FindWindow("skyview")) << "a second report";
    CloseAndExpectCleanExit();
}

// Without an X server the program says which display it tried and exits with status 1, for a
// missing DISPLAY as for one that names no server.
TEST(SkyviewWithoutDisplay, SaysWhichDisplayItTriedAndExitsWithOne) {
    struct TCase {
        std::optional<std::string> Display;
        const char* Line;
    };
    const TCase cases[] = {
        {":65000", "skyview: cannot open display \":65000\"\n"},
        {std::nullopt, "skyview: cannot open display \"\" (DISPLAY is not set)\n"},
    };
    for (const TCase& c : cases) {
        TProcessOptions options;
        options.Environment = {{"DISPLAY", c.Display}};
        options.CaptureStandardError = true;
        TProcess program(SkyviewProgram(), {}, std::filesystem::temp_directory_path().string(),
                         options);
        const auto status = program.Wait(20);
        ASSERT_TRUE(status.has_value()) << "the program did not end";
        EXPECT_EQ(*status, 1);
        EXPECT_EQ(program.StandardError(), c.Line);
    }
}

} // namespace
