#pragma once

// The command lines of the headless modes:
//   velmarin host [--password P] [--id ID]
//   velmarin view ID PASSWORD [--seconds N] [--record FILE]

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace velmarin {

struct HostOptions {
    // Fixed credentials: the Host keeps them and reconnects by itself.
    std::optional<QString> password;
    std::optional<QString> id; // normalised, nine digits
};

struct ViewOptions {
    QString id; // normalised, nine digits
    QString password;
    std::optional<int> seconds;
    // Records what is received into this MP4 file (absolute path).
    std::optional<QString> recordFile;
};

// A command line that cannot be used, with the Dutch reason.
struct UsageError {
    QString message;
};

using HeadlessCommand = std::variant<HostOptions, ViewOptions, UsageError>;

// The arguments after the program name; nothing when they name no headless
// mode (the desktop application starts instead).
std::optional<HeadlessCommand> parseHeadlessCommand(const QStringList& arguments);

QString headlessUsage();

} // namespace velmarin
