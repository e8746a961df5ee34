#pragma once

// The command lines of the headless modes:
//   velmarin host [--password P] [--id ID]
//   velmarin view ID PASSWORD [--seconds N] [--record FILE] [--chat TEXT] [--send-file PATH]
//   velmarin view --device NAME-OR-ID [--seconds N] [--record FILE]
//   velmarin view ID PASSWORD | --device NAME-OR-ID --window [--fullscreen] [--seconds N]
//   velmarin devices list | add NAME ID [--password-file FILE] [--note TEXT]
//                         | rename NAME-OR-ID NEW-NAME | remove NAME-OR-ID

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
    // Instead of ID and password: a saved device, by name or ID.
    std::optional<QString> device;
    std::optional<int> seconds;
    // Records what is received into this MP4 file (absolute path).
    std::optional<QString> recordFile;
    // One chat line to send once connected.
    std::optional<QString> chat;
    // A file to send once connected (absolute path); the run ends with it.
    std::optional<QString> sendFile;
    // The session in the desktop window instead of status lines; the
    // window goes full screen once connected.
    bool window = false;
    bool fullscreen = false;
};

struct DevicesOptions {
    enum class Action { list, add, rename, remove };
    Action action = Action::list;
    QString device;  // add: the name; rename, remove: name or ID
    QString id;      // add: normalised, nine digits
    QString newName; // rename
    std::optional<QString> note;
    // add: where the password is; standard input when absent (never the
    // command line, which other users can read).
    std::optional<QString> passwordFile;
};

// A command line that cannot be used, with the Dutch reason.
struct UsageError {
    QString message;
};

using HeadlessCommand = std::variant<HostOptions, ViewOptions, DevicesOptions, UsageError>;

// The arguments after the program name; nothing when they name no headless
// mode (the desktop application starts instead).
std::optional<HeadlessCommand> parseHeadlessCommand(const QStringList& arguments);

QString headlessUsage();

} // namespace velmarin
