#pragma once

// Starting the application when the user logs in.

#include <QString>

namespace velmarin {

class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() const = 0;
    // False when the registration could not be written or removed.
    virtual bool enable() = 0;
    virtual bool disable() = 0;
};

// An XDG autostart entry, ~/.config/autostart/velmarin.desktop, whose Exec
// line passes --login-item. Enabled means the file is there.
class XdgAutostartLoginItem final : public LoginItem {
public:
    // Defaults: the autostart folder of the user's config directory, and the
    // running program.
    explicit XdgAutostartLoginItem(QString desktopFile = {}, QString executable = {});

    bool isEnabled() const override;
    bool enable() override;
    bool disable() override;

    const QString& desktopFile() const { return m_desktopFile; }

    static QString defaultDesktopFile();

private:
    QString m_desktopFile;
    QString m_executable;
};

} // namespace velmarin
