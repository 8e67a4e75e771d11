// Unit tests run without a display: the window manager keeps its windows in memory only.
#include "platform/win32/WinUser.h"
#include "tests/support/WindowState.h"

#include <gtest/gtest.h>

namespace {

class THeadlessEnvironment : public ::testing::Environment {
public:
    void SetUp() override { SetHeadless(true); }
};

[[maybe_unused]] const auto* const HeadlessEnvironment =
    ::testing::AddGlobalTestEnvironment(new THeadlessEnvironment);

} // namespace
