// Every test of this level runs on the program's own Xvfb server.
#include "tests/support/PrivateDisplay.h"

namespace {

[[maybe_unused]] const auto* const PrivateDisplayEnvironment =
    ::testing::AddGlobalTestEnvironment(new TPrivateDisplay);

} // namespace
