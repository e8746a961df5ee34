#include "program/HeadlessRunner.h"

#include "app/AppCoordinator.h"
#include "app/IDFormatter.h"
#include "collab/Chat.h"
#include "devices/DeviceConnect.h"
#include "devices/Keychain.h"
#include "program/UserDevices.h"
#include "program/VideoReceiveStats.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace velmarin {

namespace {

void out(const QString& line) {
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

void err(const QString& line) {
    std::fprintf(stderr, "%s\n", qPrintable(line));
    std::fflush(stderr);
}

// SIGINT and SIGTERM reach the event loop through a socket pair, the one
// thing a signal handler may safely write to.
class StopSignals {
public:
    template <class F> explicit StopSignals(F onStop) {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, s_fds) != 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(s_fds[1], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [onStop] {
            char byte = 0;
            if (::read(s_fds[1], &byte, 1) == 1)
                onStop();
        });
        struct sigaction action {};
        action.sa_handler = [](int) {
            const char byte = 1;
            [[maybe_unused]] const auto written = ::write(s_fds[0], &byte, 1);
        };
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }

private:
    static inline int s_fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// Settings of this run only: a headless Host must not change the desktop
// user's stored choices.
struct RunSettings {
    QTemporaryDir dir;
    AppSettings settings{dir.filePath(QStringLiteral("velmarin.conf")), nullptr};
};

QString gigabytes(std::int64_t bytes) {
    return QString::number(static_cast<double>(bytes) / 1e9, 'f', 1) + QStringLiteral(" GB");
}

QString describe(const protocol::SystemInfoMessage& info) {
    return QStringLiteral("Systeeminformatie: %1, %2 %3 (%4), %5, %6 processors, CPU %7 %, "
                          "geheugen %8 van %9, schijf %10 van %11, %12 s in bedrijf")
        .arg(QString::fromStdString(info.deviceName), QString::fromStdString(info.operatingSystem),
             QString::fromStdString(info.osVersion), QString::fromStdString(info.architecture),
             QString::fromStdString(info.processorName))
        .arg(info.logicalProcessorCount)
        .arg(info.cpuUsagePercent, 0, 'f', 1)
        .arg(gigabytes(info.memoryUsedBytes), gigabytes(info.memoryTotalBytes),
             gigabytes(info.diskUsedBytes), gigabytes(info.diskTotalBytes))
        .arg(info.uptimeSeconds);
}

QString describe(const QList<protocol::MonitorInfo>& monitors) {
    QStringList parts;
    for (const auto& monitor : monitors)
        parts.append(QStringLiteral("%1: %2 %3x%4%5")
                         .arg(monitor.id)
                         .arg(QString::fromStdString(monitor.name))
                         .arg(monitor.width)
                         .arg(monitor.height)
                         .arg(monitor.primary ? QStringLiteral(" (primair)") : QString()));
    return QStringLiteral("Monitoren: ") + parts.join(QStringLiteral(", "));
}

// Prints each chat message the peer sends, then handles it as before.
void printIncomingChat(AppCoordinator& coordinator) {
    MessageRouter* router = coordinator.messageRouter();
    if (!router)
        return;
    router->onChatMessage = [handle = router->onChatMessage](const protocol::ChatMessage& message) {
        out(QStringLiteral("chat %1 %2 %3")
                .arg(QString::fromStdString(message.sender),
                     QString::fromStdString(collab::formatTime(message.timestamp)),
                     QString::fromStdString(message.text)));
        if (handle)
            handle(message);
    };
}

using FileOutcome = FileTransferHandler::Outcome;

// Prints each received file with the path it was saved under, after the
// coordinator has handled the outcome; `then` sees every outcome.
void printFileTransfers(FileTransferHandler* files,
                        std::function<void(const FileOutcome&)> then = {}) {
    if (!files)
        return;
    files->onFinished = [handle = files->onFinished, then = std::move(then)](const FileOutcome& o) {
        if (handle)
            handle(o);
        if (o.kind == FileOutcome::Kind::received)
            out(QStringLiteral("Bestand ontvangen: ") + QFile::decodeName(o.savedPath.c_str()));
        if (then)
            then(o);
    };
}

} // namespace

const devices::SavedDevice* savedDeviceToView(const QString& nameOrID, UserDevices& user) {
    const devices::SavedDevice* device = user.book.find(nameOrID);
    if (!device) {
        err(QStringLiteral("Geen opgeslagen apparaat met de naam of het ID \"%1\".").arg(nameOrID));
        return nullptr;
    }
    const auto stored = user.secrets.find(
        {devices::Keychain::devicesService.toStdString(), device->hostID.toStdString()});
    if (!stored || !*stored) {
        err(stored ? devices::kNoStoredPassword : secretStoreProblem(stored.error()));
        return nullptr;
    }
    return device;
}

int runHeadlessHost(const HostOptions& options, SessionComponents components) {
    RunSettings run;
    AppSettings& settings = run.settings;
    ConnectionState state;
    CommandBus commands;
    FileTransferHandler* const files = components.fileTransfer.get();
    AppCoordinator coordinator(commands, std::move(components));

    if (options.password || options.id) {
        settings.setUseFixedCredentials(true);
        settings.setFixedID(options.id.value_or(QString()));
    }
    if (options.password) {
        settings.setFixedPassword(*options.password);
        settings.setAutoStartHosting(true);
    } else {
        state.setLocalPassword(ConnectionState::newSessionPassword());
    }
    const bool unattended = settings.isUnattended();

    int exitCode = 0;
    bool stopping = false;
    const auto finish = [&](int code) {
        if (stopping)
            return;
        stopping = true;
        exitCode = code;
        if (state.isSharing() || coordinator.isReconnecting())
            commands.post(Command::stopHosting);
        else
            QCoreApplication::exit(code);
    };

    QObject::connect(&state, &ConnectionState::statusChanged, [&](const Status& status) {
        out(QStringLiteral("Status: ") + status.displayText());
        switch (status.kind()) {
        case Status::Kind::waitingForViewer:
            out(QStringLiteral("ID: ") + IDFormatter::format(state.localID()));
            // One given with --password is known already; printed, it would
            // end up in journals and service logs.
            if (!options.password)
                out(QStringLiteral("Wachtwoord: ") + state.localPassword());
            break;
        case Status::Kind::error:
            // An unattended Host rides out lost connections; anything else
            // that fails ends the run.
            if (!unattended || status.reason() == Status::Reason::captureUnavailable ||
                status.reason() == Status::Reason::reconnectGaveUp) {
                err(status.displayText());
                finish(1);
            }
            break;
        case Status::Kind::disconnected:
            // stopHosting has run (asked for, or the Viewer left a Host
            // without fixed credentials): nothing is left to stop. Posting
            // another stop here would wait for a status change that never
            // comes, and the process would hang.
            stopping = true;
            QCoreApplication::exit(exitCode);
            break;
        default:
            break;
        }
    });
    QObject::connect(&state, &ConnectionState::debugLogChanged, [&](const QString& log) {
        // The newest line, without its time stamp.
        const QString line = log.section(QLatin1Char('\n'), 0, 0);
        out(QStringLiteral("Log: ") + line.mid(line.indexOf(QStringLiteral("] ")) + 2));
    });
    const StopSignals stopSignals([&] { finish(0); });

    coordinator.setup(state, settings, nullptr);
    printIncomingChat(coordinator);
    printFileTransfers(files);
    if (!unattended) {
        state.setIsSharing(true);
        commands.post(Command::startHosting);
    }
    const int code = QCoreApplication::exec();
    return stopping ? exitCode : code;
}

int runHeadlessView(const ViewOptions& options, SessionComponents components) {
    // A saved device: its stored password, and this connection recorded
    // among the user's recent ones. Plain ID-and-password runs leave the
    // user's stores alone.
    std::optional<UserDevices> user;
    const devices::SavedDevice* device = nullptr;
    if (options.device) {
        user.emplace();
        device = savedDeviceToView(*options.device, *user);
        if (!device)
            return 1;
    }
    RunSettings run;
    ConnectionState state;
    CommandBus commands;
    SessionRecorder* const recorder = components.recorder.get();
    FileTransferHandler* const files = components.fileTransfer.get();
    AppCoordinator coordinator(commands, std::move(components));

    int exitCode = 0;
    bool stopping = false;
    const auto finish = [&](int code) {
        if (stopping)
            return;
        stopping = true;
        exitCode = code;
        commands.post(Command::stopViewing);
    };

    // Received video, reported once a second while it flows.
    VideoReceiveStats stats;
    QTimer statsTimer;
    QObject::connect(&statsTimer, &QTimer::timeout, [&] {
        const std::uint64_t before = stats.totalFrames();
        const QString report = stats.takeReport();
        if (before > 0)
            out(report);
    });

    QObject::connect(&state, &ConnectionState::statusChanged, [&](const Status& status) {
        out(QStringLiteral("Status: ") + status.displayText());
        if (status.kind() == Status::Kind::error) {
            err(status.displayText());
            finish(1);
        } else if (status.kind() == Status::Kind::disconnected) {
            out(stats.summary());
            out(QStringLiteral("Beelden ontvangen: %1").arg(coordinator.decodedFrameCount()));
            // The session's end stopped the recording; the file is complete
            // once the recorder says so.
            if (!state.isRecording())
                QCoreApplication::exit(exitCode);
        }
    });
    QObject::connect(&state, &ConnectionState::isRecordingChanged, [&](bool recording) {
        // The recorder's name: it moves on when the given file exists.
        const QString file =
            recorder ? recorder->outputPath() : options.recordFile.value_or(QString());
        if (recording) {
            out(QStringLiteral("Opname gestart: ") + file);
            return;
        }
        out(QStringLiteral("Opname beëindigd: ") + file);
        if (state.status().kind() == Status::Kind::disconnected)
            QCoreApplication::exit(exitCode);
    });
    QObject::connect(&state, &ConnectionState::disconnectMessageChanged,
                     [&](const std::optional<QString>& message) {
                         if (!message)
                             return;
                         err(*message);
                         // The router ends the session itself.
                         stopping = true;
                         exitCode = 1;
                     });
    QObject::connect(&state, &ConnectionState::remoteSystemInfoChanged,
                     [](const std::optional<protocol::SystemInfoMessage>& info) {
                         if (info)
                             out(describe(*info));
                     });
    QObject::connect(&state, &ConnectionState::availableMonitorsChanged,
                     [](const QList<protocol::MonitorInfo>& monitors) { out(describe(monitors)); });
    QObject::connect(&state, &ConnectionState::remoteScreenSizeChanged, [](const QSizeF& size) {
        out(QStringLiteral("Scherm van de host: %1x%2").arg(size.width()).arg(size.height()));
    });
    const StopSignals stopSignals([&] { finish(0); });

    QTimer timer;
    if (options.seconds) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&] { finish(0); });
        timer.start(std::chrono::seconds(*options.seconds));
    }

    coordinator.setup(state, run.settings, user ? &user->recents : nullptr);
    printIncomingChat(coordinator);
    // One chat line once the session stands.
    if (options.chat) {
        QObject::connect(&state, &ConnectionState::statusChanged, [&](const Status& status) {
            if (status.kind() == Status::Kind::connected && state.chatMessages().isEmpty())
                commands.post(Command::sendChat, {{QStringLiteral("text"), *options.chat}});
        });
    }
    // The file, once the session stands; the run ends with its transfer.
    bool fileOffered = false;
    bool fileSent = false;
    QTimer fileProgress;
    printFileTransfers(files, [&](const FileOutcome& outcome) {
        if (!options.sendFile || outcome.kind == FileOutcome::Kind::received)
            return;
        fileProgress.stop();
        if (outcome.kind == FileOutcome::Kind::sent) {
            fileSent = true;
            out(QStringLiteral("Bestand verstuurd: ") + QString::fromStdString(outcome.fileName));
            finish(0);
        } else {
            err(QString::fromStdString(outcome.reason));
            finish(1);
        }
    });
    if (options.sendFile) {
        if (!files) {
            err(QStringLiteral("Bestanden versturen is in deze versie niet beschikbaar."));
            return 1;
        }
        QObject::connect(&state, &ConnectionState::statusChanged, [&](const Status& status) {
            if (status.kind() != Status::Kind::connected || fileOffered)
                return;
            fileOffered = true;
            if (files->startSending(QFile::encodeName(*options.sendFile).toStdString()))
                fileProgress.start(std::chrono::seconds(1));
        });
        QObject::connect(&fileProgress, &QTimer::timeout, [&] {
            out(QStringLiteral("Voortgang: %1 %").arg(qRound(files->progress() * 100)));
        });
    }
    if (MessageRouter* router = coordinator.messageRouter()) {
        router->onVideoFrame =
            [&stats, decode = router->onVideoFrame](const std::vector<std::uint8_t>& frame) {
                stats.record(frame);
                if (decode)
                    decode(frame);
            };
    }
    statsTimer.start(std::chrono::seconds(1));
    state.setMode(Mode::viewer);
    if (options.recordFile && recorder)
        recorder->start(*options.recordFile);
    if (device) {
        if (!devices::connectToDevice(*device, state, commands, user->book, user->secrets))
            return 1;
    } else {
        state.setRemoteID(options.id);
        state.setRemotePassword(options.password);
        commands.post(Command::startViewing);
    }
    const int code = QCoreApplication::exec();
    // Only the Host's word that it stored the file makes a file run succeed.
    return options.sendFile && !fileSent ? 1 : code;
}

} // namespace velmarin
