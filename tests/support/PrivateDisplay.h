// A private Xvfb server for one test program: started before its first test with DISPLAY
// pointing at it, ended when the program ends (after its last X connection has closed, which
// may be at exit). Test programs that run side by side then share no screen (windows of one
// never cover the pixels another reads, nor carry the title it looks for), and the server never
// resets between two tests.
#pragma once

#include <gtest/gtest.h>

class TPrivateDisplay : public ::testing::Environment {
public:
    void SetUp() override;
};
