#pragma once

// Light or dark: the desktop's choice, read from the freedesktop appearance
// setting (org.freedesktop.appearance color-scheme through the settings
// portal) when Qt's platform theme does not follow it by itself.
// VELMARIN_COLOR_SCHEME=light|dark overrides both (screenshots, tests).

#include <QString>

#include <optional>

class QApplication;

namespace velmarin::ui {

enum class ColorScheme { light, dark };

std::optional<ColorScheme> colorSchemeFromText(const QString& text);

// The environment override, else the desktop's preference, else nothing.
std::optional<ColorScheme> preferredColorScheme();

// Gives the application the palette of `scheme` when the current one is
// not already of that kind.
void applyColorScheme(QApplication& app, ColorScheme scheme);

// Links that screens open.
namespace Links {
inline const QString website = QStringLiteral("https://velmarin.app");
inline const QString privacy = QStringLiteral("https://velmarin.app/privacy");
inline const QString screenRecordingHelp = QStringLiteral("https://velmarin.app/hulp/schermopname");
inline const QString accessibilityHelp = QStringLiteral("https://velmarin.app/hulp/toegankelijkheid");
} // namespace Links

} // namespace velmarin::ui
