#include "app/LoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace velmarin {

namespace {

// Exec= quoting of the desktop entry format: quote when needed, and escape
// the characters that stay special inside quotes.
QString quotedExec(const QString& program) {
    static const QString special = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (!std::any_of(program.begin(), program.end(), [](QChar c) { return special.contains(c); }))
        return program;
    QString quoted = program;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""))
        .replace(QLatin1Char('`'), QStringLiteral("\\`"))
        .replace(QLatin1Char('$'), QStringLiteral("\\$"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(QString desktopFile, QString executable)
    : m_desktopFile(desktopFile.isEmpty() ? defaultDesktopFile() : std::move(desktopFile))
    , m_executable(std::move(executable)) {
    if (m_executable.isEmpty())
        m_executable = QCoreApplication::applicationFilePath();
    if (m_executable.isEmpty())
        m_executable = QStringLiteral("velmarin");
}

QString XdgAutostartLoginItem::defaultDesktopFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/velmarin.desktop");
}

bool XdgAutostartLoginItem::isEnabled() const {
    return QFileInfo(m_desktopFile).isFile();
}

bool XdgAutostartLoginItem::enable() {
    if (!QDir().mkpath(QFileInfo(m_desktopFile).absolutePath()))
        return false;
    QSaveFile file(m_desktopFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Velmarin\n"
                                         "Comment=Hulp op afstand\n"
                                         "Exec=%1 --login-item\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quotedExec(m_executable));
    file.write(entry.toUtf8());
    return file.commit();
}

bool XdgAutostartLoginItem::disable() {
    const QFileInfo info(m_desktopFile);
    if (!info.exists() && !info.isSymLink())
        return true;
    return QFile::remove(m_desktopFile);
}

} // namespace velmarin
