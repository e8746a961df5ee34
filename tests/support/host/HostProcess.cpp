#include "support/host/HostProcess.h"

#include "support/WaitUntil.h"

#include <chrono>

namespace velmarin::testing {

using namespace std::chrono_literals;

QProcessEnvironment velmarinEnvironment(const std::string& display, const RelayProcess& relay,
                                        const QString& configHome) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (display.empty())
        environment.remove(QStringLiteral("DISPLAY"));
    else
        environment.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display));
    environment.insert(QStringLiteral("VELMARIN_RELAY_HOST"),
                       QString::fromStdString(relay.hostPort()));
    environment.insert(QStringLiteral("VELMARIN_RELAY_CA"), QString::fromStdString(relay.caFile()));
    if (!configHome.isEmpty())
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    return environment;
}

VelmarinRun runVelmarin(const QProcessEnvironment& environment, const QStringList& arguments,
                        const QByteArray& input) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELMARIN_BINARY), arguments);
    process.write(input);
    process.closeWriteChannel();
    const bool ended = waitUntil([&] { return process.state() == QProcess::NotRunning; }, 40s);
    const bool normal = ended && process.exitStatus() == QProcess::NormalExit;
    return {normal ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

HostProcess::HostProcess(const std::string& display, const RelayProcess& relay,
                         const QString& configHome, const QStringList& arguments)
    : m_environment(velmarinEnvironment(display, relay, configHome)) {
    m_process.setProcessEnvironment(m_environment);
    m_process.start(QStringLiteral(VELMARIN_BINARY),
                    QStringList{QStringLiteral("host")} + arguments);
}

HostProcess::Credentials HostProcess::readCredentials() {
    // A braced list is evaluated in order: the ID line comes first.
    return {readUntil(QStringLiteral("ID: ")), readUntil(QStringLiteral("Wachtwoord: "))};
}

QString readLineWith(QProcess& process, QString& transcript, const QString& marker, bool atStart) {
    QString found;
    waitUntil(
        [&] {
            while (found.isEmpty() && process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine()).trimmed();
                transcript += line + QLatin1Char('\n');
                if (const auto at = line.indexOf(marker); at == 0 || (at > 0 && !atStart))
                    found = line.mid(at + marker.size());
            }
            return !found.isEmpty() || process.state() == QProcess::NotRunning;
        },
        20s);
    return found;
}

} // namespace velmarin::testing
