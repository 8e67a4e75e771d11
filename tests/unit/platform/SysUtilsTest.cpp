// The string helpers, scope guards and address-space probe of SysUtils.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <sys/wait.h>

#include "platform/framework/SysUtils.h"
#include "tests/support/AddressSpace.h"

namespace {

TEST(SysUtils, CaseChangesOnlyTheAsciiLetters) {
    const std::string mixed = "Mesh_3DS.Glsm \xC3\x84\xC3\xA4 @[`{";
    EXPECT_EQ(LowerCase(mixed), "mesh_3ds.glsm \xC3\x84\xC3\xA4 @[`{");
    EXPECT_EQ(UpperCase(mixed), "MESH_3DS.GLSM \xC3\x84\xC3\xA4 @[`{");
}

TEST(SysUtils, TheExtensionFollowsTheLastDotOfTheLastPathElementInItsCase) {
    EXPECT_EQ(ExtensionOf("models/Anime-Pause.3DS"), "3DS");
    EXPECT_EQ(ExtensionOf("archive.v2.glsm"), "glsm");
    EXPECT_EQ(ExtensionOf("data.d/model"), "");
    EXPECT_EQ(ExtensionOf("model."), "");
    EXPECT_EQ(ExtensionOf(""), "");
}

TEST(SysUtils, AFailureGuardRunsOnlyWhenAnExceptionLeavesItsScope) {
    int undone = 0;
    {
        TOnFailure undo([&] { ++undone; });
    }
    EXPECT_EQ(undone, 0);
    EXPECT_THROW(
        {
            TOnFailure undo([&] { ++undone; });
            throw std::runtime_error("failed half way");
        },
        std::runtime_error);
    EXPECT_EQ(undone, 1);
}

TEST(SysUtils, AFailureGuardKeepsTheFirstExceptionWhenItsActionThrows) {
    try {
        TOnFailure undo([] { throw std::logic_error("undo failed"); });
        throw std::runtime_error("step failed");
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "step failed");
        return;
    }
    FAIL() << "the step's exception did not arrive";
}

// The probe maps nothing for good and answers for what the limit leaves: in a child whose
// address space may grow by 16 MiB more, 1 MiB fits twice in a row (the first probe gave its
// mapping back) and 64 MiB does not; without a limit, nothing beyond the hardware's reach fits.
TEST(SysUtils, TheAddressSpaceProbeAnswersForWhatTheLimitLeaves) {
    EXPECT_TRUE(AddressSpaceAvailable(0));
    EXPECT_TRUE(AddressSpaceAvailable(uint64_t{64} << 20));
    EXPECT_FALSE(AddressSpaceAvailable(uint64_t{1} << 62));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const TAddressSpaceLimit limit(uint64_t{16} << 20);
        const bool fits = limit.Set() &&
                          AddressSpaceAvailable(uint64_t{1} << 20) &&
                          AddressSpaceAvailable(uint64_t{1} << 20) &&
                          !AddressSpaceAvailable(uint64_t{64} << 20);
        _exit(fits ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

} // namespace
