#pragma once

#include "Core/DeviceDescriptor.h"
#include "Core/IIdleHandler.h"

#include <QWidget>

#include <vector>

class QComboBox;
class QPushButton;

namespace Tav {

class CLauncher;

// The main window's client area: the device list and the buttons Connect,
// Disconnect and Rescan, enabled by the launcher's state at idle time.
class CLauncherView : public QWidget, public IIdleHandler {
public:
    enum ControlId : int {
        IdDeviceList = 1000,
        IdConnect = 1001,
        IdDisconnect = 1002,
        IdRescan = 1003,
    };

    // Rescans and updates the buttons.
    CLauncherView(CLauncher& launcher, QWidget* parent);

    // Lists the devices of the selected hardware layer; errors are shown and
    // leave the list empty.
    void Rescan();
    // Opens the selected device; the launcher shows its own errors.
    void Connect();
    // Closes it; the view is disabled meanwhile.
    void Disconnect();
    void UpdateButtons();

    bool OnIdle() override;

    const std::vector<CDeviceDescriptor>& GetDevices() const { return devices; }
    QComboBox* DeviceList() const { return deviceList; }
    QPushButton* ConnectButton() const { return connectButton; }
    QPushButton* DisconnectButton() const { return disconnectButton; }
    QPushButton* RescanButton() const { return rescanButton; }

private:
    void EnumeratePlugin(const char* fileName);

    QComboBox* deviceList;
    QPushButton* connectButton;
    QPushButton* disconnectButton;
    QPushButton* rescanButton;
    std::vector<CDeviceDescriptor> devices;
    CLauncher* launcher;
};

} // namespace Tav
