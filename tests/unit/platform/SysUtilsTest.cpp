// The string helpers and scope guards of SysUtils.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/framework/SysUtils.h"

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

} // namespace
