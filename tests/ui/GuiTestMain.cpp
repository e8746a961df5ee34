// main() for the viewer suites that need Qt Gui but no screen: the offscreen
// platform, and throw-away XDG folders so no test writes into the user's.

#include <QGuiApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    ::setenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit().constData(), 1);
    ::setenv("XDG_DATA_HOME", home.filePath("data").toLocal8Bit().constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit().constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
