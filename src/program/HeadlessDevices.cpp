#include "program/HeadlessDevices.h"

#include "app/IDFormatter.h"
#include "app/PresenceManager.h"
#include "devices/Keychain.h"
#include "program/UserDevices.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace velmarin {

namespace {

using devices::Keychain::devicesService;

void out(const QString& line) {
    std::fprintf(stdout, "%s\n", qPrintable(line));
}

int fail(const QString& line) {
    std::fprintf(stderr, "%s\n", qPrintable(line));
    return 1;
}

// The password from a file or standard input (without echo on a terminal);
// only its first line counts.
std::optional<QString> readPassword(const DevicesOptions& options) {
    QFile file;
    const bool terminal = !options.passwordFile && ::isatty(STDIN_FILENO);
    termios saved{};
    if (options.passwordFile) {
        file.setFileName(*options.passwordFile);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
    } else {
        if (terminal) {
            std::fputs("Wachtwoord: ", stderr);
            ::tcgetattr(STDIN_FILENO, &saved);
            termios silent = saved;
            silent.c_lflag &= ~tcflag_t(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSANOW, &silent);
        }
        file.open(stdin, QIODevice::ReadOnly);
    }
    QString line = file.isOpen() ? QString::fromUtf8(file.readLine()) : QString();
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fputs("\n", stderr);
    }
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

// Each device's presence, asked once from the relay; empty when it does
// not answer within a few seconds.
QMap<QString, DeviceStatus> askPresence(const QStringList& ids) {
    if (ids.isEmpty())
        return {};
    PresenceManager presence;
    QMap<QString, DeviceStatus> answer;
    QObject::connect(&presence, &PresenceManager::statusesChanged,
                     [&](const QMap<QString, DeviceStatus>& statuses) {
                         answer = statuses;
                         QCoreApplication::exit(0);
                     });
    QTimer::singleShot(std::chrono::seconds(5), [] { QCoreApplication::exit(0); });
    presence.start(ids);
    QCoreApplication::exec();
    return answer;
}

QString presenceText(const std::optional<DeviceStatus>& status) {
    if (!status)
        return QStringLiteral("onbekend");
    switch (*status) {
    case DeviceStatus::online: return QStringLiteral("online");
    case DeviceStatus::busy: return QStringLiteral("bezet");
    case DeviceStatus::offline: return QStringLiteral("offline");
    }
    return QStringLiteral("onbekend");
}

int list(UserDevices& user) {
    const auto& devices = user.book.devices();
    if (devices.isEmpty()) {
        out(QStringLiteral("Nog geen apparaten. Voeg er een toe met: velmarin devices add NAAM ID"));
        return 0;
    }
    const auto statuses = askPresence(user.book.hostIDs());
    for (const auto& device : devices) {
        const QString last = device.lastConnected
                                 ? device.lastConnected->toLocalTime().toString(
                                       QStringLiteral("yyyy-MM-dd HH:mm"))
                                 : QStringLiteral("nog nooit verbonden");
        out(QStringLiteral("%1\t%2\t%3\t%4")
                .arg(device.name, IDFormatter::format(device.hostID),
                     presenceText(statuses.contains(device.hostID)
                                      ? std::optional(statuses.value(device.hostID))
                                      : std::nullopt),
                     last));
    }
    // A list without a reachable Secret Service cannot be used to connect.
    const auto probe = user.secrets.find({devicesService.toStdString(), devices.front().hostID.toStdString()});
    if (!probe)
        std::fprintf(stderr, "%s\n", qPrintable(secretStoreProblem(probe.error())));
    return 0;
}

} // namespace

QString secretStoreProblem(const secrets::SecretStoreError& error) {
    using Kind = secrets::SecretStoreError::Kind;
    switch (error.kind) {
    case Kind::unavailable:
    case Kind::timedOut:
        return QStringLiteral("Geen wachtwoordkluis bereikbaar (Secret Service, zoals GNOME "
                              "Keyring of KWallet). Opgeslagen wachtwoorden zijn hier niet te "
                              "gebruiken.");
    case Kind::locked:
        return QStringLiteral("De wachtwoordkluis is vergrendeld. Ontgrendel hem (bijvoorbeeld "
                              "door in te loggen op het bureaublad) en probeer het opnieuw.");
    case Kind::failed: break;
    }
    return QStringLiteral("De wachtwoordkluis gaf een fout: %1")
        .arg(QString::fromStdString(error.description()));
}

int runHeadlessDevices(const DevicesOptions& options) {
    using Action = DevicesOptions::Action;
    UserDevices user;
    if (options.action == Action::list)
        return list(user);
    if (options.action == Action::add) {
        const auto password = readPassword(options);
        if (!password)
            return fail(QStringLiteral("Kan het wachtwoordbestand niet lezen: %1")
                            .arg(*options.passwordFile));
        if (password->isEmpty())
            return fail(QStringLiteral("Het wachtwoord mag niet leeg zijn."));
        // Stored first: a device whose password could not be kept is not added.
        if (const auto saved =
                devices::Keychain::save(user.secrets, *password, options.id, devicesService);
            !saved)
            return fail(secretStoreProblem(saved.error()) +
                        QStringLiteral(" Het apparaat is niet opgeslagen."));
        user.book.add(options.device, options.id, *password, options.note);
        out(QStringLiteral("Apparaat opgeslagen: %1").arg(user.book.find(options.id)->name));
        return 0;
    }
    const devices::SavedDevice* device = user.book.find(options.device);
    if (!device)
        return fail(QStringLiteral("Geen opgeslagen apparaat met de naam of het ID \"%1\".")
                        .arg(options.device));
    if (options.action == Action::rename) {
        user.book.rename(device->id, options.newName);
        return 0;
    }
    if (const auto removed = devices::Keychain::remove(user.secrets, device->hostID, devicesService);
        !removed)
        return fail(secretStoreProblem(removed.error()) +
                    QStringLiteral(" Het apparaat is niet verwijderd."));
    out(QStringLiteral("Apparaat verwijderd: %1").arg(device->name));
    user.book.remove(device->id);
    return 0;
}

} // namespace velmarin
