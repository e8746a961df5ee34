#include "program/AppDelegate.h"

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
    if (current.width() >= kMinimumWindowWidth)
        return current;
    // The exact middle; QRect::center() rounds towards the top left.
    const int midX = screen.x() + screen.width() / 2;
    const int midY = screen.y() + screen.height() / 2;
    return QRect(midX - kMinimumWindowWidth / 2, midY - kInitialWindowHeight / 2,
                 kMinimumWindowWidth, kInitialWindowHeight);
}

} // namespace velmarin
