#pragma once

// The user's saved devices and recent connections, in the user's settings
// file and Secret Service: what the desktop application and the headless
// device commands share.

#include "app/AppSettings.h"
#include "devices/DeviceBookManager.h"
#include "devices/RecentConnectionsManager.h"
#include "secrets/SecretServiceStore.h"

#include <QSettings>

namespace velmarin {

struct UserDevices {
    QSettings store{AppSettings::userFile(), QSettings::IniFormat};
    secrets::SecretServiceStore secrets;
    devices::DeviceBookManager book{store, secrets};
    devices::RecentConnectionsManager recents{store, secrets};
};

// The Dutch text for a secret store that cannot be used here.
QString secretStoreProblem(const secrets::SecretStoreError& error);

} // namespace velmarin
