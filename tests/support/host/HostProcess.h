#pragma once

// A real `velmarin host` for end-to-end tests, sharing a private X server
// through a test relay.
//
// Usage (link the CMake target `velmarin_test_host`; a QCoreApplication must
// exist):
//
//     #include "support/host/HostProcess.h"
//
//     velmarin::testing::HostProcess host(x.display(), relay);    // started
//     const auto credentials = host.readCredentials();    // "ID: ", "Wachtwoord: "
//     ASSERT_FALSE(credentials.password.isEmpty()) << host.transcript().toStdString();
//     view.setProcessEnvironment(host.environment());     // a `velmarin view` beside it
//
// `arguments` follow "host" on its command line ("--password", ...).
//
// The destructor ends a host that is still running (SIGTERM, then up to
// 15 s); a host without fixed credentials also ends by itself once its
// Viewer left.

#include "support/relay/RelayProcess.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <string>

namespace velmarin::testing {

// The environment of a `velmarin` process on `display` (none when empty:
// no screen to share, also inside a desktop session) that reaches `relay`;
// `configHome`, when given, becomes its XDG_CONFIG_HOME.
QProcessEnvironment velmarinEnvironment(const std::string& display, const RelayProcess& relay,
                                        const QString& configHome = {});

struct VelmarinRun {
    int exitCode = -1; // -1 when it crashed or did not end in time
    QString out;
    QString err;
};
// Runs `velmarin arguments` to its end (40 s at most) with `input` on its
// standard input. The event loop keeps turning meanwhile, so a Host or
// Viewer in this process goes on serving it.
VelmarinRun runVelmarin(const QProcessEnvironment& environment, const QStringList& arguments,
                        const QByteArray& input = {});

// The rest of the first line `process` prints from now on that contains
// `marker` (that starts with it when `atStart`), 20 s at most; empty when the
// process ended first. Every line read is added to `transcript`.
QString readLineWith(QProcess& process, QString& transcript, const QString& marker, bool atStart);

class HostProcess {
public:
    HostProcess(const std::string& display, const RelayProcess& relay,
                const QString& configHome = {}, const QStringList& arguments = {});
    ~HostProcess() {
        m_process.terminate();
        m_process.waitForFinished(15'000);
    }
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    struct Credentials {
        QString id; // as printed, with dashes
        QString password;
    };
    // Reads the host's output up to its ID and password lines (20 s for
    // each); the password is empty when the host ended or printed none.
    Credentials readCredentials();

    // Every line the host printed so far, for failure messages.
    const QString& transcript() const { return m_transcript; }
    const QProcessEnvironment& environment() const { return m_environment; }
    QProcess& process() { return m_process; }

    // The rest of the first line that starts with `prefix` (20 s at most;
    // empty when the host ended first).
    QString readUntil(const QString& prefix) {
        return readLineWith(m_process, m_transcript, prefix, true);
    }

private:
    QProcessEnvironment m_environment;
    QProcess m_process;
    QString m_transcript;
};

} // namespace velmarin::testing
