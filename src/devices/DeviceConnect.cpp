#include "devices/DeviceConnect.h"

#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "app/IDFormatter.h"
#include "devices/DeviceBookManager.h"
#include "devices/Keychain.h"

namespace velmarin::devices {

bool connectToDevice(const SavedDevice& device, ConnectionState& state, CommandBus& commands,
                     DeviceBookManager& book, secrets::SecretStore& secrets) {
    if (state.isSharing())
        return false;
    const QString id = IDFormatter::normalize(device.hostID);
    const auto password = Keychain::load(secrets, id, Keychain::devicesService);
    if (!password) {
        state.setStatus(Status::error(kNoStoredPassword));
        return false;
    }
    state.setRemoteID(id);
    state.setRemotePassword(*password);
    book.markConnected(id);
    commands.post(Command::startViewing);
    return true;
}

bool connectToRecent(const RecentConnection& connection, ConnectionState& state,
                     CommandBus& commands, secrets::SecretStore& secrets) {
    const auto password = Keychain::load(secrets, connection.hostID, Keychain::connectionsService);
    if (!password)
        return false;
    state.setRemoteID(connection.hostID);
    state.setRemotePassword(*password);
    commands.post(Command::startViewing);
    return true;
}

} // namespace velmarin::devices
