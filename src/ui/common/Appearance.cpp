#include "ui/common/Appearance.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace velmarin::ui {

namespace {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2e);
    const QColor base(0x1e, 0x1e, 0x20);
    const QColor text(0xec, 0xec, 0xef);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Mid, QColor(0x5a, 0x5a, 0x60));
    p.setColor(QPalette::Light, QColor(0x48, 0x48, 0x4e));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, QColor(0x0a, 0x84, 0xff));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0xa0));
    p.setColor(QPalette::Link, QColor(0x40, 0x9c, 0xff));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x74, 0x74, 0x7a));
    return p;
}

QPalette lightPalette() {
    QPalette p = QStyleFactory::create(QStringLiteral("Fusion"))->standardPalette();
    p.setColor(QPalette::Window, QColor(0xf4, 0xf4, 0xf6));
    p.setColor(QPalette::Highlight, QColor(0x0a, 0x84, 0xff));
    p.setColor(QPalette::PlaceholderText, QColor(0x6e, 0x6e, 0x73));
    return p;
}

// The settings portal answers 1 for "prefer dark", 2 for "prefer light", 0
// for no preference.
std::optional<ColorScheme> portalColorScheme() {
    QDBusInterface portal(QStringLiteral("org.freedesktop.portal.Desktop"),
                          QStringLiteral("/org/freedesktop/portal/desktop"),
                          QStringLiteral("org.freedesktop.portal.Settings"));
    if (!portal.isValid())
        return std::nullopt;
    portal.setTimeout(300);
    const QDBusReply<QDBusVariant> reply =
        portal.call(QStringLiteral("Read"), QStringLiteral("org.freedesktop.appearance"),
                    QStringLiteral("color-scheme"));
    if (!reply.isValid())
        return std::nullopt;
    QVariant value = reply.value().variant();
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    if (value.canConvert<QDBusArgument>()) {
        QDBusVariant inner;
        value.value<QDBusArgument>() >> inner;
        value = inner.variant();
    }
    switch (value.toUInt()) {
    case 1: return ColorScheme::dark;
    case 2: return ColorScheme::light;
    default: return std::nullopt;
    }
}

} // namespace

std::optional<ColorScheme> colorSchemeFromText(const QString& text) {
    if (text == QLatin1String("dark"))
        return ColorScheme::dark;
    if (text == QLatin1String("light"))
        return ColorScheme::light;
    return std::nullopt;
}

std::optional<ColorScheme> preferredColorScheme() {
    if (auto scheme = colorSchemeFromText(qEnvironmentVariable("VELMARIN_COLOR_SCHEME")))
        return scheme;
    return portalColorScheme();
}

void applyColorScheme(QApplication& app, ColorScheme scheme) {
    if (isDark(QApplication::palette()) == (scheme == ColorScheme::dark))
        return;
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(scheme == ColorScheme::dark ? darkPalette() : lightPalette());
}

} // namespace velmarin::ui
