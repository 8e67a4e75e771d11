// Leak checking excuses the OpenGL driver's own allocations and nothing else: a process that
// has the driver loaded and drawing, and then loses a block of its own, still fails with a report
// that names the code that allocated it.
#include "engine/context/OpenGL1x.h"
#include "tests/support/OffscreenGL.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool LeaksAreChecked = true;
#elif defined(__has_feature)
constexpr bool LeaksAreChecked = __has_feature(address_sanitizer);
#else
constexpr bool LeaksAreChecked = false;
#endif

using TBlock = std::array<int32_t, 64>;
TBlock* volatile LastBlock = nullptr;

[[gnu::noinline]] void LoseABlockOnPurpose() {
    LastBlock = new TBlock{};
    LastBlock = nullptr;
}

void DrawATriangle() {
    TOffscreenGL gl(32, 32);
    ASSERT_TRUE(gl.Valid());
    glClear(GL_COLOR_BUFFER_BIT);
    glBegin(GL_TRIANGLES);
    glVertex2f(-1, -1);
    glVertex2f(1, -1);
    glVertex2f(0, 1);
    glEnd();
    glFinish();
}

// Only ever run by the test below, in a child process.
TEST(LeakCheck, DISABLED_DrawsThenLosesABlock) {
    ASSERT_TRUE(UseMachineOpenGL());
    DrawATriangle();
    LoseABlockOnPurpose();
}

TEST(LeakCheck, OurOwnLeakFailsTheRunAndIsTheOnlyOneReported) {
    if (!LeaksAreChecked)
        GTEST_SKIP() << "built without AddressSanitizer";
    TProcessOptions options;
    options.CaptureStandardError = true;
    TProcess child(std::filesystem::read_symlink("/proc/self/exe").string(),
                   {"--gtest_filter=LeakCheck.DISABLED_DrawsThenLosesABlock",
                    "--gtest_also_run_disabled_tests"},
                   std::filesystem::current_path().string(), options);
    const auto status = child.Wait(120);
    ASSERT_TRUE(status.has_value()) << "the child did not end";
    const std::string report = child.StandardError();
    EXPECT_NE(*status, 0) << report;
    EXPECT_NE(report.find("Direct leak of 256 byte(s) in 1 object(s)"), std::string::npos)
        << report;
    EXPECT_NE(report.find("LoseABlockOnPurpose"), std::string::npos) << report;
    EXPECT_NE(report.find("SUMMARY: AddressSanitizer: 256 byte(s) leaked in 1 allocation(s)."),
              std::string::npos)
        << "the driver's allocations are excused, ours alone is reported\n"
        << report;
}

} // namespace
