// Entry of the tests that press real keys: they need the X server that DISPLAY names,
// whatever platform the other tests are told to use (scripts/test.sh says offscreen). Without
// a reachable X server Qt falls back to offscreen and the tests skip themselves.
#include "resource.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    const char* display = std::getenv("DISPLAY");
    setenv("QT_QPA_PLATFORM", display && *display ? "xcb;offscreen" : "offscreen", 1);
    QApplication app(argc, argv);
    RegisterPeloraResources();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
