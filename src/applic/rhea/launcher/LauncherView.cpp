#include "LauncherView.h"

#include "DialogUnits.h"
#include "Launcher.h"
#include "SaperaHal/DeviceDescriptor.h"

#include "Common/StaticErrorView.h"
#include "Core/HalPlugin.h"
#include "Core/IDeviceEnumerator.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>

#include <cstring>

namespace Tav {

namespace {

constexpr char saperaPlugin[] = "SaperaHal.dll";

bool IsSapera()
{
    return halPluginName && std::strcmp(halPluginName, saperaPlugin) == 0;
}

void AppendDevice(const CDeviceDescriptor* descriptor, void* context)
{
    if (descriptor)
        static_cast<std::vector<CDeviceDescriptor>*>(context)->emplace_back(descriptor->GetName(),
                                                                            descriptor->GetDescription());
}

QPushButton* MakeButton(QWidget* parent, const char* text, const char* name, const QRect& rect)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(rect);
    button->setAutoDefault(false);
    return button;
}

} // namespace

CLauncherView::CLauncherView(CLauncher& launcher, QWidget* parent) : QWidget(parent), launcher(&launcher)
{
    setObjectName("launcherView");
    ApplyDialogFont(*this);
    deviceList = new QComboBox(this);
    deviceList->setObjectName("deviceList");
    // The drop-down height of the list is Qt's; only the closed box is placed.
    const QRect list = DialogUnitsToPixels(*this, 2, 2, 122, 78);
    deviceList->setGeometry(list.x(), list.y(), list.width(), DialogUnitsToPixels(*this, 0, 0, 0, 12).height());
    connectButton = MakeButton(this, "&Connect", "connectButton", DialogUnitsToPixels(*this, 128, 2, 43, 12));
    disconnectButton =
        MakeButton(this, "&Disconnect", "disconnectButton", DialogUnitsToPixels(*this, 128, 18, 43, 12));
    rescanButton = MakeButton(this, "&Rescan", "rescanButton", DialogUnitsToPixels(*this, 41, 18, 43, 12));

    connect(connectButton, &QPushButton::clicked, this, [this] { Connect(); });
    connect(disconnectButton, &QPushButton::clicked, this, [this] { Disconnect(); });
    connect(rescanButton, &QPushButton::clicked, this, [this] { Rescan(); });

    Rescan();
    UpdateButtons();
}

void CLauncherView::Rescan()
{
    devices.clear();
    deviceList->clear();
    if (!halPluginName || !*halPluginName) {
        try {
            auto* enumerator = dynamic_cast<IDeviceEnumerator*>(launcher->GetFactory().GetObject("DeviceEnumerator"));
            if (enumerator)
                devices = enumerator->EnumDevices();
        } catch (const CException& e) {
            devices.clear();
            CStaticErrorView::ShowError(e);
        }
    } else if (IsSapera()) {
        devices.emplace_back("./Q7.ini", "X64 - 1");
    } else {
        EnumeratePlugin(halPluginName);
    }
    for (const CDeviceDescriptor& device : devices)
        deviceList->addItem(QString::fromStdString(device.GetDescription()));
    if (!devices.empty())
        deviceList->setCurrentIndex(0);
}

void CLauncherView::EnumeratePlugin(const char* fileName)
{
    CHalPlugin plugin;
    try {
        plugin.Load(fileName);
    } catch (const CException& e) {
        // The plug-in cannot be loaded: nothing to list.
        CStaticErrorView::ShowError(e);
        return;
    }
    plugin.GetEnumDevices()(&AppendDevice, &devices);
    plugin.Unload();
}

void CLauncherView::Connect()
{
    if (launcher->IsConnected() || devices.empty())
        return;
    const int index = deviceList->currentIndex();
    if (index < 0 || size_t(index) >= devices.size())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const CDeviceDescriptor& device = devices[size_t(index)];
    if (IsSapera())
        launcher->Connect(Hal::Sapera::CDeviceDescriptor(device.GetName(), device.GetDescription()));
    else
        launcher->Connect(device);
    QApplication::restoreOverrideCursor();
}

void CLauncherView::Disconnect()
{
    if (!launcher->IsConnected())
        return;
    setEnabled(false);
    launcher->Disconnect();
    setEnabled(true);
}

void CLauncherView::UpdateButtons()
{
    const bool connected = launcher->IsConnected();
    connectButton->setEnabled(!connected && !devices.empty());
    disconnectButton->setEnabled(connected);
    rescanButton->setEnabled(!connected);
    deviceList->setEnabled(!connected);
}

bool CLauncherView::OnIdle()
{
    UpdateButtons();
    return false;
}

} // namespace Tav
