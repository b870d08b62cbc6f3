#include "Rhea.h"

#include "RheaUtility.h"
#include "Thread.h"

#include "Platform/DeviceInterfaces.h"
#include "Platform/SystemError.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace Rhea {

using namespace Tav::Platform;

const Guid DriverInterfaceClass{0xD535C794, 0xA527, 0x4B72, {0x92, 0x3A, 0x63, 0x02, 0x9F, 0xA5, 0xD8, 0x3B}};

namespace {

enum : uint32_t {
    IoFormats = 0x80102004,
    IoModes = 0x80102008,
    IoRates = 0x8010200C,
    IoSetVideoMode = 0x80102010,
    IoGetVideoMode = 0x80102070,
    IoNodeId = 0x80102014,
    IoInfoText = 0x80102018,
    IoFormat7Inquiry = 0x8010201C,
    IoSetGeometry = 0x80102020,
    IoGetGeometry = 0x80102024,
    IoGetColorCoding = 0x80102028,
    IoSetColorCoding = 0x8010202C,
    IoPacketInquiry = 0x80102030,
    IoSetBytesPerPacket = 0x8010206C,
    IoShot = 0x8010203C,
    IoQueueBuffer = 0x80102041,
    IoAllocate = 0x80102064,
    IoFree = 0x8010206B,
    IoCancel = 0x80102093,
};

constexpr uint32_t Bit(uint32_t i) { return 0x80000000u >> i; }

// Process-wide state of the client. Never destroyed: the notification
// thread may still use it while the process ends.
struct ClientState {
    std::recursive_mutex clientLock;
    CThread thread;
    bool threadStarted = false;
    WindowHandle clientWindow = 0;
    WindowProcedure previousProcedure;
    NotificationHandle interfaceNotification = 0;
    std::map<DeviceHandle, CRhea*> devices;
};

ClientState& Client()
{
    static ClientState* state = new ClientState;
    return *state;
}

std::atomic<uint32_t> nextCompletionKey{0};

// At process end the client is unregistered and the notification window closed.
struct ProcessEnd {
    ~ProcessEnd()
    {
        ClientState& c = Client();
        {
            std::lock_guard<std::recursive_mutex> guard(c.clientLock);
            if (c.clientWindow && c.devices.empty()) {
                try {
                    CRhea::UnregisterClient();
                } catch (const RheaException&) {
                }
            }
            if (!c.threadStarted)
                return;
        }
        c.thread.Stop(50, 10000);
    }
} processEnd;

} // namespace

// The client's window procedure for device-change broadcasts.
struct ClientWindow {
    static intptr_t Procedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
    {
        ClientState& c = Client();
        WindowProcedure previous;
        {
            std::lock_guard<std::recursive_mutex> guard(c.clientLock);
            if (message == WmDeviceChange && lParam &&
                reinterpret_cast<const DevBroadcastHeader*>(lParam)->deviceType == DbtDevtypHandle)
                HandleBroadcast(static_cast<uint32_t>(wParam), *reinterpret_cast<const DevBroadcastHandle*>(lParam));
            previous = c.previousProcedure;
        }
        if (previous)
            return previous(window, message, wParam, lParam);
        return DefaultWindowProcedure(window, message, wParam, lParam);
    }

    static void HandleBroadcast(uint32_t event, const DevBroadcastHandle& broadcast)
    {
        ClientState& c = Client();
        auto it = c.devices.find(broadcast.handle);
        CRhea* rhea = it == c.devices.end() ? nullptr : it->second;
        // Errors here have no caller to go to; the device is left as it is.
        try {
            switch (event) {
            case DbtDeviceQueryRemove:
                if (rhea) {
                    if (rhea->IsOpen() && rhea->onQueryRemove)
                        rhea->onQueryRemove(rhea, rhea->onQueryRemoveUser);
                    rhea->CloseForRemoval();
                }
                break;
            case DbtDeviceQueryRemoveFailed:
                if (rhea) {
                    rhea->Unregister(rhea->handleNotification, false);
                    rhea->Unregister(rhea->extraHandleNotification, false);
                    c.devices.erase(broadcast.handle);
                    rhea->removalHandle = InvalidDeviceHandle;
                    if (!rhea->IsOpen())
                        rhea->Open(rhea->deviceName, rhea->extraWindow);
                }
                break;
            case DbtDeviceRemoveComplete:
                if (!rhea) {
                    UnregisterDeviceNotification(broadcast.notification);
                } else {
                    if (rhea->IsOpen() && rhea->onQueryRemove)
                        rhea->onQueryRemove(rhea, rhea->onQueryRemoveUser);
                    rhea->Close();
                    if (rhea->onRemoveComplete)
                        rhea->onRemoveComplete(rhea, rhea->onRemoveCompleteUser);
                }
                break;
            }
        } catch (const RheaException&) {
        }
    }
};

// ---- construction ----------------------------------------------------------

struct CRhea::CompletionRecord {
    Overlapped overlapped; // first: the port hands back its address
    uint32_t kind;
    uintptr_t context;
};

CRhea::CTrigger::CTrigger(CRhea* owner)
    // Trigger-mode register of the IIDC feature block; bits Abs_Control and ON_OFF.
    : absControl(owner, 0x830, 1), onOff(owner, 0x830, 6)
{
}

CRhea::CFormatSeven::CFormatSeven(CRhea* owner, uint32_t mode)
    : ImageSize(this), ImagePosition(this), ColorCoding(this), BytePerPacket(this), owner(owner), mode(mode)
{
}

CRhea::CFormatSevenModes::CFormatSevenModes(CRhea* owner)
    : modes{{owner, 0}, {owner, 1}, {owner, 2}, {owner, 3}, {owner, 4}, {owner, 5}, {owner, 6}, {owner, 7}}
{
}

CRhea::CFormatSeven& CRhea::CFormatSevenModes::operator[](int mode)
{
    if (mode < 0 || mode > 7)
        throw RheaException(ErrorModeNotDefined, "CRhea::FormatSeven::operator[]");
    return modes[mode];
}

CRhea::CRhea()
    : trigger(this), oneShot(this), continuousShot(this), formatSeven(this), info(this),
      completionKey(nextCompletionKey.fetch_add(1))
{
}

CRhea::~CRhea()
{
    try {
        Close();
    } catch (const RheaException&) {
    }
    CloseCompletionPort();
}

// ---- names -----------------------------------------------------------------

bool CRhea::IsFullPath(const std::string& text)
{
    const size_t first = text.find('#');
    return first != std::string::npos && text.find('#', first + 1) != std::string::npos;
}

std::string CRhea::PathToName(const std::string& text)
{
    if (!IsFullPath(text))
        return text;
    const size_t first = text.find('#');
    const size_t second = text.find('#', first + 1);
    const size_t third = text.find('#', second + 1);
    return text.substr(first + 1, third == std::string::npos ? std::string::npos : third - first - 1);
}

std::string CRhea::NameToPath(const std::string& text)
{
    if (IsFullPath(text))
        return text;
    const Guid& g = DriverInterfaceClass;
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, "#{%08lX-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2],
                  g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return "\\\\?\\1394#" + text + suffix;
}

std::vector<std::string> CRhea::DeviceNames()
{
    std::unique_ptr<DeviceInfoSet> set =
        DeviceInfoSet::GetClassDevices(DriverInterfaceClass, DigcfPresent | DigcfDeviceInterface);
    if (!set)
        throw RheaException(GetLastError(), "CRheaDevInfo");
    std::vector<std::string> names;
    for (uint32_t index = 0;; ++index) {
        DeviceInterfaceData data;
        if (set->EnumInterfaces(DriverInterfaceClass, index, data)) {
            uint32_t required = 0;
            if (set->GetInterfaceDetail(data, nullptr, 0, &required) || GetLastError() != ErrorInsufficientBuffer) {
                const uint32_t error = GetLastError();
                throw RheaException(error ? error : ErrorGenFailure, "CRheaDevMgr::DeviceNames");
            }
            std::vector<char> path((required + 3) & ~3u);
            if (!set->GetInterfaceDetail(data, path.data(), static_cast<uint32_t>(path.size()), nullptr))
                throw RheaException(GetLastError(), "CRheaDevMgr::DeviceNames");
            names.push_back(PathToName(path.data()));
        }
        const uint32_t error = GetLastError();
        if (error == ErrorSuccess)
            continue;
        if (error == ErrorNoMoreItems)
            break;
        throw RheaException(error, "CRhea::DeviceNames");
    }
    return names;
}

// ---- client registration ---------------------------------------------------

void CRhea::RegisterClient(WindowHandle window)
{
    ClientState& c = Client();
    std::lock_guard<std::recursive_mutex> guard(c.clientLock);
    if (!c.devices.empty())
        throw RheaException(ErrorClientRegisterWithDevices, "CRhea::RegisterClient()");
    if (c.clientWindow)
        UnregisterClient();
    WindowProcedure previous;
    if (!SetWindowProcedure(window, ClientWindow::Procedure, &previous))
        throw RheaException(GetLastError(), "CRhea::RegisterClient()");
    DevBroadcastDeviceInterface filter;
    filter.classGuid = DriverInterfaceClass;
    const NotificationHandle notification = RegisterDeviceNotification(window, &filter.header);
    if (!notification) {
        SetWindowProcedure(window, previous, nullptr);
        throw RheaException(ErrorNotificationWindow, "CRhea::RegisterDeviceNotifcation()");
    }
    c.clientWindow = window;
    c.previousProcedure = std::move(previous);
    c.interfaceNotification = notification;
}

void CRhea::UnregisterClient()
{
    ClientState& c = Client();
    std::lock_guard<std::recursive_mutex> guard(c.clientLock);
    if (!c.devices.empty())
        throw RheaException(ErrorClientUnregisterWithDevices, "CRhea::UnregisterClient()");
    if (!c.clientWindow)
        return;
    if (c.interfaceNotification)
        UnregisterDeviceNotification(c.interfaceNotification);
    c.interfaceNotification = 0;
    SetWindowProcedure(c.clientWindow, std::move(c.previousProcedure), nullptr);
    c.previousProcedure = nullptr;
    c.clientWindow = 0;
}

// ---- open and close --------------------------------------------------------

void CRhea::Open(const std::string& name, WindowHandle extra)
{
    const std::string path = NameToPath(name);
    const std::string newName = PathToName(name);
    ClientState& c = Client();
    std::lock_guard<std::recursive_mutex> guard(c.clientLock);

    if (IsOpen()) {
        if (deviceName == newName)
            throw RheaException(ErrorAlreadyOpen, "CRhea::Open");
        Close();
        CloseCompletionPort();
    }

    if (!c.clientWindow) {
        if (!c.threadStarted) {
            if (!c.thread.Start(20000))
                throw RheaException(ErrorNotificationWindow, "CRhea::Open()");
            c.threadStarted = true;
        }
        RegisterClient(c.thread.Window());
    }

    const DeviceHandle handle = OpenDevice(path);
    if (handle == InvalidDeviceHandle)
        throw RheaException(GetLastError(), path);

    c.devices[handle] = this;
    deviceHandle = handle;
    deviceName = newName;
    extraWindow = extra;
    // A failure from here on leaves the client closed rather than half open.
    try {
        DevBroadcastHandle filter;
        filter.handle = handle;
        handleNotification = RegisterDeviceNotification(c.clientWindow, &filter.header);
        if (!handleNotification)
            throw RheaException(ErrorNotificationWindow, "CRhea::RegisterDeviceNotifcation()");
        if (extra) {
            if (!IsWindow(extra))
                throw RheaException(ErrorNotificationWindow, "CRhea::RegisterDeviceNotifications()",
                                    static_cast<uint32_t>(ErrorInvalidWindowHandle));
            extraHandleNotification = RegisterDeviceNotification(extra, &filter.header);
            if (!extraHandleNotification)
                throw RheaException(ErrorNotificationWindow, "CRhea::RegisterDeviceNotifcation()");
        }
        EnsureCompletionPort();
        if (!AssociateDeviceWithPort(handle, completionPort, completionKey))
            throw RheaException(GetLastError(), "CRhea::Open()");
    } catch (...) {
        try {
            Close();
        } catch (const RheaException&) {
        }
        throw;
    }
}

void CRhea::Unregister(NotificationHandle& notification, bool report)
{
    if (!notification)
        return;
    const NotificationHandle n = notification;
    notification = 0;
    if (!UnregisterDeviceNotification(n) && report)
        throw RheaException(GetLastError(), "CRhea::UnregisterDeviceNotification()");
}

void CRhea::CloseForRemoval()
{
    ClientState& c = Client();
    std::lock_guard<std::recursive_mutex> guard(c.clientLock);
    if (!IsOpen())
        return;
    // The map keeps the old handle value: the broadcasts that follow name it.
    removalHandle = deviceHandle;
    deviceHandle = InvalidDeviceHandle;
    CloseDevice(removalHandle);
}

void CRhea::Close()
{
    ClientState& c = Client();
    std::lock_guard<std::recursive_mutex> guard(c.clientLock);
    bool closed = true;
    uint32_t closeError = ErrorSuccess;
    if (IsOpen()) {
        closed = CloseDevice(deviceHandle);
        closeError = GetLastError();
        c.devices.erase(deviceHandle);
        deviceHandle = InvalidDeviceHandle;
    }
    if (removalHandle != InvalidDeviceHandle) {
        c.devices.erase(removalHandle);
        removalHandle = InvalidDeviceHandle;
    }
    try {
        Unregister(handleNotification, true);
    } catch (...) {
        Unregister(extraHandleNotification, false);
        throw;
    }
    Unregister(extraHandleNotification, false);
    if (!closed)
        throw RheaException(closeError, "CRhea::CloseFileHandle(" + deviceName + ")");
}

void CRhea::SetOnQueryRemove(Callback callback, uintptr_t user)
{
    std::lock_guard<std::recursive_mutex> guard(Client().clientLock);
    onQueryRemove = callback;
    onQueryRemoveUser = user;
}

void CRhea::SetOnRemoveComplete(Callback callback, uintptr_t user)
{
    std::lock_guard<std::recursive_mutex> guard(Client().clientLock);
    onRemoveComplete = callback;
    onRemoveCompleteUser = user;
}

// ---- completion port -------------------------------------------------------

void CRhea::EnsureCompletionPort()
{
    if (completionPort)
        return;
    completionPort = CompletionPort::Create();
    if (!completionPort)
        throw RheaException(GetLastError(), "CRhea::CreateCompletionPort()");
}

void CRhea::CloseCompletionPort()
{
    if (!completionPort)
        return;
    // Records still queued belong to this client; they would be lost with the port.
    uint32_t bytes;
    uintptr_t key;
    Overlapped* overlapped;
    for (;;) {
        const bool ok = completionPort->Get(bytes, key, overlapped, 0);
        if (!ok && !overlapped)
            break;
        delete reinterpret_cast<CompletionRecord*>(overlapped);
    }
    completionPort.reset();
}

void CRhea::Notify(uint32_t kind, uintptr_t context)
{
    EnsureCompletionPort();
    auto* record = new (std::nothrow) CompletionRecord{{}, kind, context};
    if (!record)
        throw RheaException(ErrorOutOfMemory, "GetRheaOL");
    if (!completionPort->Post(0, completionKey, &record->overlapped)) {
        delete record;
        throw RheaException(GetLastError(), "CRhea::Notify()");
    }
}

void CRhea::GetCompletion(uint32_t& kind, uint32_t& error, uintptr_t& context, int32_t timeout)
{
    EnsureCompletionPort();
    context = 0;
    error = 0;
    uint32_t bytes = 0;
    uintptr_t key = 0;
    Overlapped* overlapped = nullptr;
    if (!completionPort->Get(bytes, key, overlapped, timeout))
        error = GetLastError() & ~0x20000000u;
    if (overlapped) {
        auto* record = reinterpret_cast<CompletionRecord*>(overlapped);
        kind = record->kind;
        context = record->context;
        delete record;
    }
}

void CRhea::SendAsync(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                      uint32_t kind, uintptr_t context, const char* operation)
{
    auto* record = new (std::nothrow) CompletionRecord{{}, kind, context};
    if (!record)
        throw RheaException(ErrorOutOfMemory, "GetRheaOL");
    if (!DeviceIoControl(deviceHandle, code, input, inputSize, output, outputSize, nullptr, &record->overlapped)) {
        const uint32_t error = GetLastError();
        if (error != ErrorIoPending) {
            // Failed at once: no completion will bring the record back.
            delete record;
            throw RheaException(error, operation);
        }
    }
}

void CRhea::GrabImageAsync(void* buffer, uint32_t size, uintptr_t context, bool shot)
{
    SendAsync(IoQueueBuffer, nullptr, 0, buffer, size, KindImageBuffer, context, "CRhea::GrabImageAsync()");
    if (shot)
        oneShot.SetAsync();
}

void CRhea::COneShot::SetAsync()
{
    // The command record must outlive the request: it travels with it.
    static const uint32_t command[2] = {2, 0};
    owner->SendAsync(IoShot, command, sizeof command, nullptr, 0, KindOneShot, 0, "CRhea::COneShot::SetAsync()");
}

// ---- synchronous requests --------------------------------------------------

bool CRhea::Transmit(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                     uint32_t* bytesReturned, int32_t timeout)
{
    if (!IsOpen())
        throw RheaException(ErrorNoDevice, "CRhea::Transmit()");
    const DeviceHandle handle = deviceHandle;
    Event done(true, false);
    Overlapped overlapped;
    // Bit 0 of the event keeps the completion away from the port.
    overlapped.event = OverlappedEvent(&done, true);
    uint32_t bytes = 0;
    bool ok = DeviceIoControl(handle, code, input, inputSize, output, outputSize, &bytes, &overlapped);
    if (!ok) {
        if (GetLastError() != ErrorIoPending)
            return false;
        if (WaitForSingleObject(done, timeout) == WaitObject0) {
            ok = GetOverlappedResult(handle, &overlapped, &bytes, false);
        } else {
            CancelIo(handle);
            // The request still owns `overlapped` until it has finished.
            GetOverlappedResult(handle, &overlapped, &bytes, true);
            SetLastError(ErrorSemTimeout);
            ok = false;
        }
    }
    if (bytesReturned)
        *bytesReturned = bytes;
    return ok;
}

void CRhea::Call(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                 const char* context)
{
    if (!Transmit(code, input, inputSize, output, outputSize))
        throw RheaException(GetLastError(), context);
}

void CRhea::GetVideoMode(uint32_t& format, uint32_t& mode, uint32_t& rate)
{
    uint32_t out[3] = {};
    Call(IoGetVideoMode, nullptr, 0, out, sizeof out, "CRhea::GetVideoMode()");
    format = out[0];
    mode = out[1];
    rate = out[2];
}

void CRhea::SetVideoMode(uint32_t format, uint32_t mode, uint32_t rate)
{
    const uint32_t in[3] = {format, mode, rate};
    Call(IoSetVideoMode, in, sizeof in, nullptr, 0, "CRhea::SetVideoMode()");
}

bool CRhea::IsVideoModeSupported(uint32_t format, int32_t mode, int32_t rate)
{
    const char* context = "CRhea::IsVideoModeSupported()";
    if (format > 31 || mode > 31 || rate > 31)
        return false;
    uint32_t mask = 0;
    Call(IoFormats, nullptr, 0, &mask, sizeof mask, context);
    bool supported = mask & Bit(format);
    if (supported && mode != -1) {
        Call(IoModes, &format, sizeof format, &mask, sizeof mask, context);
        supported = mask & Bit(uint32_t(mode));
    }
    if (supported && mode != -1 && rate != -1) {
        const uint32_t in[2] = {format, uint32_t(mode)};
        Call(IoRates, in, sizeof in, &mask, sizeof mask, context);
        supported = mask & Bit(uint32_t(rate));
    }
    return supported;
}

uint32_t CRhea::AllocateResources(uint32_t count, uint32_t bytesPerBuffer, uint32_t bytesPerPacket)
{
    if (bytesPerPacket == 0) {
        uint32_t format, mode, rate;
        GetVideoMode(format, mode, rate);
        bytesPerPacket = format == 7 ? formatSeven[int(mode)].BytePerPacket() : RheaUtility::BytePerPacket(format, mode, rate);
    }
    const uint32_t in[3] = {bytesPerPacket, count, bytesPerBuffer};
    uint32_t out[3] = {};
    Call(IoAllocate, in, sizeof in, out, sizeof out, "CRhea::AllocateResources()");
    resourceId = int32_t(out[0]);
    resourceExtra = out[2];
    return out[1];
}

void CRhea::FreeResources()
{
    resourceId = -1;
    Call(IoFree, nullptr, 0, nullptr, 0, "CRhea::FreeResources()");
}

void CRhea::Cancel()
{
    if (!IsOpen())
        throw RheaException(ErrorNoDevice, "CRhea::Cancel()");
    Call(IoCancel, nullptr, 0, nullptr, 0, "CRhea::Cancel()");
}

CRhea::CContinuousShot& CRhea::CContinuousShot::operator=(bool on)
{
    const uint32_t in[2] = {on ? 1u : 0u, 0};
    owner->Call(IoShot, in, sizeof in, nullptr, 0, "CRhea::CContinuousShot::operator=()");
    return *this;
}

// ---- info ------------------------------------------------------------------

std::string CRhea::CInfo::NodeId() const
{
    uint32_t out[2] = {};
    owner->Call(IoNodeId, nullptr, 0, out, sizeof out, "CRhea::CInfo::NodeId()");
    const uint32_t low = out[0], high = out[1];
    char text[40];
    std::snprintf(text, sizeof text, "0x%06x-%llu", high >> 8,
                  static_cast<unsigned long long>(uint64_t(high & 0xFF) << 32 | low));
    return text;
}

std::string CRhea::CInfo::Text(uint32_t selector, const char* context) const
{
    char out[256] = {};
    owner->Call(IoInfoText, &selector, sizeof selector, out, sizeof out, context);
    out[sizeof out - 1] = '\0'; // a driver text without its NUL is cut, not overrun
    return out;
}

std::string CRhea::CInfo::VendorName() const { return Text(0, "CRhea::CInfo::VendorName()"); }
std::string CRhea::CInfo::ModelName() const { return Text(1, "CRhea::CInfo::ModelName()"); }
std::string CRhea::CInfo::CameraFirmwareVersion() const { return Text(2, "CRhea::CInfo::CameraFirmwareVersion()"); }

// ---- Format 7 --------------------------------------------------------------

void CRhea::CFormatSeven::Inquiry(uint32_t (&words)[14]) const
{
    owner->Call(IoFormat7Inquiry, &mode, sizeof mode, words, sizeof words, "CRhea::FormatSeven::Inquiry()");
}

void CRhea::CFormatSeven::PacketInquiry(uint32_t (&words)[7]) const
{
    owner->Call(IoPacketInquiry, &mode, sizeof mode, words, sizeof words, "CRhea::FormatSeven::PacketInquiry()");
}

CRhea::Pair CRhea::CFormatSeven::MaxSize() const
{
    uint32_t w[14] = {};
    Inquiry(w);
    return {w[0], w[1]};
}

uint32_t CRhea::CFormatSeven::BytePerFrame() const
{
    uint32_t w[7] = {};
    PacketInquiry(w);
    return w[0];
}

uint32_t CRhea::CFormatSeven::PacketsPerFrame() const
{
    uint32_t w[7] = {};
    PacketInquiry(w);
    return w[6];
}

CRhea::Pair CRhea::CFormatSeven::CImageSize::operator()() const
{
    uint32_t g[4] = {};
    mode->owner->Call(IoGetGeometry, &mode->mode, sizeof mode->mode, g, sizeof g,
                      "CRhea::FormatSeven::ImageSize::operator()");
    return {g[2], g[3]};
}

CRhea::CFormatSeven::CImageSize& CRhea::CFormatSeven::CImageSize::operator=(Pair size)
{
    const uint32_t in[6] = {mode->mode, 0, 0, size.first, size.second, 12};
    mode->owner->Call(IoSetGeometry, in, sizeof in, nullptr, 0, "CRhea::FormatSeven::ImageSize::operator=");
    return *this;
}

CRhea::Pair CRhea::CFormatSeven::CImageSize::Inc() const
{
    uint32_t w[14] = {};
    mode->Inquiry(w);
    return {w[2], w[3]};
}

CRhea::Pair CRhea::CFormatSeven::CImagePosition::operator()() const
{
    uint32_t g[4] = {};
    mode->owner->Call(IoGetGeometry, &mode->mode, sizeof mode->mode, g, sizeof g,
                      "CRhea::FormatSeven::ImagePosition::operator()");
    return {g[0], g[1]};
}

CRhea::CFormatSeven::CImagePosition& CRhea::CFormatSeven::CImagePosition::operator=(Pair position)
{
    const uint32_t in[6] = {mode->mode, position.first, position.second, 0, 0, 3};
    mode->owner->Call(IoSetGeometry, in, sizeof in, nullptr, 0, "CRhea::FormatSeven::ImagePosition::operator=");
    return *this;
}

CRhea::Pair CRhea::CFormatSeven::CImagePosition::Inc() const
{
    uint32_t w[14] = {};
    mode->Inquiry(w);
    return {w[4] ? w[4] : w[2], w[5] ? w[5] : w[3]};
}

uint32_t CRhea::CFormatSeven::CColorCoding::operator()() const
{
    uint32_t coding = 0;
    mode->owner->Call(IoGetColorCoding, &mode->mode, sizeof mode->mode, &coding, sizeof coding,
                      "CRhea::FormatSeven::ColorCoding::operator()");
    if (coding > 10 && coding < 128)
        throw RheaException(ErrorColorCodingRange, "CRhea::FormatSeven::ColorCoding::operator()");
    return coding;
}

CRhea::CFormatSeven::CColorCoding& CRhea::CFormatSeven::CColorCoding::operator=(uint32_t coding)
{
    const uint32_t in[2] = {mode->mode, coding};
    mode->owner->Call(IoSetColorCoding, in, sizeof in, nullptr, 0, "CRhea::FormatSeven::ColorCoding::operator=");
    return *this;
}

bool CRhea::CFormatSeven::CColorCoding::IsSupported(uint32_t coding) const
{
    if (coding > 255)
        return false;
    uint32_t w[14] = {};
    mode->Inquiry(w);
    return w[6 + coding / 32] & Bit(coding % 32);
}

uint32_t CRhea::CFormatSeven::CBytePerPacket::operator()() const
{
    uint32_t w[7] = {};
    mode->PacketInquiry(w);
    return w[5];
}

CRhea::CFormatSeven::CBytePerPacket& CRhea::CFormatSeven::CBytePerPacket::operator=(uint32_t bytes)
{
    const uint32_t in[2] = {mode->mode, bytes};
    mode->owner->Call(IoSetBytesPerPacket, in, sizeof in, nullptr, 0, "CRhea::FormatSeven::BytePerPacket::operator=");
    return *this;
}

uint32_t CRhea::CFormatSeven::CBytePerPacket::Inc() const
{
    uint32_t w[7] = {};
    mode->PacketInquiry(w);
    return w[4];
}

uint32_t CRhea::CFormatSeven::CBytePerPacket::Max() const
{
    uint32_t w[7] = {};
    mode->PacketInquiry(w);
    return w[2];
}

} // namespace Rhea
