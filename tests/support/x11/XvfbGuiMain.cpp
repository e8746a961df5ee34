// main() for suites that need a real X display: a private Xvfb and a QApplication on
// it through the xcb platform. Listing the tests needs no server.

#include "support/x11/XvfbProcess.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    ::setenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit().constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit().constData(), 1);
    velmarin::testing::XvfbProcess xvfb(1280, 800);
    ::setenv("DISPLAY", xvfb.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
