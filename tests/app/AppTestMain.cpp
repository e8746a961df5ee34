// main() for the application suites: a QCoreApplication for queued calls,
// timers and coroutines, and a throw-away XDG config directory so that no
// test touches the user's real settings or autostart entries.

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    QTemporaryDir config;
    if (!config.isValid())
        return 2;
    ::setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
