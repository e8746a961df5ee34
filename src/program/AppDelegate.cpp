#include "program/AppDelegate.h"

#include "ui/window/MainWindow.h"

namespace velmarin {

namespace {

bool storedUnattended(const QSettings& store) {
    return store.value(QStringLiteral("autoStartHosting"), false).toBool() &&
           store.value(QStringLiteral("useFixedCredentials"), false).toBool();
}

} // namespace

void AppDelegate::finishLaunching(const QStringList& arguments, const QSettings& store) {
    launchedAsLoginItem = arguments.contains(kLoginItemArgument) || storedUnattended(store);
}

bool shouldTerminateAfterLastWindowClosed(bool hasNormalWindow, const QSettings& store) {
    if (!hasNormalWindow)
        return false;
    return !storedUnattended(store);
}

QRect initialWindowFrame(const QRect& current, const QRect& screen) {
    if (current.width() >= ui::kMainWindowSize.width())
        return current;
    return ui::centredFrame(ui::kMainWindowSize, screen);
}

} // namespace velmarin
