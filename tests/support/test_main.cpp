// Test entry: widgets run on Qt's offscreen platform, resources registered, no real boxes. A
// program started as a helper of one of its tests runs that helper's role instead.
#include "child_role.h"
#include "resource.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    RegisterPeloraResources();
    bool child = false;
    int code = pelora_test::RunChildRoleIfAsked(child);
    if (child)
        return code;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
