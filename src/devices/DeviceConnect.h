#pragma once

// Connecting to a saved device or a recent connection with its stored
// password: the screens and the headless Viewer call these, so the rules
// are the same everywhere.

#include <QString>

namespace velmarin {
class CommandBus;
class ConnectionState;
} // namespace velmarin
namespace velmarin::secrets {
class SecretStore;
}

namespace velmarin::devices {

class DeviceBookManager;
struct RecentConnection;
struct SavedDevice;

inline const QString kNoStoredPassword =
    QStringLiteral("Geen opgeslagen wachtwoord voor dit apparaat");

// Nothing while sharing. With a stored password: the state gets the ID and
// password, the device is marked connected and "startViewing" is posted;
// without one the state's status says so. Returns whether it connects.
bool connectToDevice(const SavedDevice& device, ConnectionState& state, CommandBus& commands,
                     DeviceBookManager& book, secrets::SecretStore& secrets);

// With a stored password: the state gets the ID and password and
// "startViewing" is posted; without one nothing happens.
bool connectToRecent(const RecentConnection& connection, ConnectionState& state,
                     CommandBus& commands, secrets::SecretStore& secrets);

} // namespace velmarin::devices
