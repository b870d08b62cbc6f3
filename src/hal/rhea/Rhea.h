#pragma once

// Client of the IEEE-1394 camera driver: finds the cameras the driver
// exposes, opens one, sets its video mode and Format 7 geometry, allocates
// isochronous resources, queues frame buffers and hands their completions
// back through an I/O completion port, and follows device removal.
//
// Every failure is a RheaException.

#include "RheaException.h"

#include "Platform/CompletionPort.h"
#include "Platform/DeviceIo.h"
#include "Platform/DeviceNotification.h"
#include "Platform/Guid.h"
#include "Platform/MessageWindow.h"
#include "Platform/Waitable.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Rhea {

using Tav::Platform::WindowHandle;

// The driver's device-interface class.
extern const Tav::Platform::Guid DriverInterfaceClass; // {D535C794-A527-4B72-923A-63029FA5D83B}

// Completion kinds the client itself uses.
enum : uint32_t { KindImageBuffer = 21, KindOneShot = 22 };

class CRhea {
public:
    using Callback = void (*)(CRhea* rhea, uintptr_t user);
    using Pair = std::pair<uint32_t, uint32_t>;

    CRhea();
    virtual ~CRhea();

    CRhea(const CRhea&) = delete;
    CRhea& operator=(const CRhea&) = delete;

    // Names of the driver's present devices, in enumeration order.
    static std::vector<std::string> DeviceNames();
    static void RegisterClient(WindowHandle window);
    static void UnregisterClient();

    // The path and name rules: a full path holds '#' and another '#' after it.
    static bool IsFullPath(const std::string& text);
    static std::string PathToName(const std::string& text);
    static std::string NameToPath(const std::string& text);

    void Open(const std::string& name, WindowHandle extraWindow = 0);
    void Close();
    bool IsOpen() const { return deviceHandle != Tav::Platform::InvalidDeviceHandle; }
    const std::string& DeviceName() const { return deviceName; }

    // Removal callbacks; they run on the notification thread.
    void SetOnQueryRemove(Callback callback, uintptr_t user);
    void SetOnRemoveComplete(Callback callback, uintptr_t user);

    void Notify(uint32_t kind, uintptr_t context);
    // Waits for one completion. `error` is 0 or the failure (bit 29
    // cleared; 258 after a time-out); `kind` is left as it is when no
    // record came back.
    void GetCompletion(uint32_t& kind, uint32_t& error, uintptr_t& context, int32_t timeout);

    void GetVideoMode(uint32_t& format, uint32_t& mode, uint32_t& rate);
    void SetVideoMode(uint32_t format, uint32_t mode, uint32_t rate);
    bool IsVideoModeSupported(uint32_t format, int32_t mode = -1, int32_t rate = -1);

    uint32_t AllocateResources(uint32_t count, uint32_t bytesPerBuffer, uint32_t bytesPerPacket = 0);
    void FreeResources();
    void Cancel();
    void GrabImageAsync(void* buffer, uint32_t size, uintptr_t context, bool oneShot);

    // One synchronous request to the open device; false with the thread's
    // last error set when it failed. Throws 0xCFF00004 without a device.
    bool Transmit(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                  uint32_t* bytesReturned = nullptr, int32_t timeout = Tav::Platform::Infinite);

    uint32_t CompletionKey() const { return completionKey; }
    int32_t ResourceId() const { return resourceId; }
    uint32_t ResourceExtra() const { return resourceExtra; }

    // Feature controls; the trigger's are recorded, no operation uses them.
    class CTrigger {
    public:
        class CBoolControl {
        public:
            CBoolControl(CRhea* owner, uint32_t group, uint32_t index) : owner(owner), group(group), index(index) {}
            virtual ~CBoolControl() = default;
            virtual CBoolControl& Control() { return *this; }
            uint32_t Group() const { return group; }
            uint32_t Index() const { return index; }

        protected:
            CRhea* owner;
            uint32_t group;
            uint32_t index;
        };
        class CBoolControlAbs : public CBoolControl {
        public:
            using CBoolControl::CBoolControl;
        };
        class CBoolControlOnOff : public CBoolControl {
        public:
            using CBoolControl::CBoolControl;
        };

        explicit CTrigger(CRhea* owner);
        CBoolControlAbs absControl;
        CBoolControlOnOff onOff;
    };

    class COneShot {
    public:
        explicit COneShot(CRhea* owner) : owner(owner) {}
        // Fires the one-shot command asynchronously (completion kind 22).
        void SetAsync();

    private:
        CRhea* owner;
    };

    class CContinuousShot {
    public:
        explicit CContinuousShot(CRhea* owner) : owner(owner) {}
        CContinuousShot& operator=(bool on);

    private:
        CRhea* owner;
    };

    class CFormatSeven {
    public:
        struct CPart {
            explicit CPart(CFormatSeven* mode) : mode(mode) {}
            CFormatSeven* mode;
        };
        class CImageSize : CPart {
        public:
            using CPart::CPart;
            Pair operator()() const;
            CImageSize& operator=(Pair size);
            Pair Inc() const;
            friend class CFormatSeven;
        };
        class CImagePosition : CPart {
        public:
            using CPart::CPart;
            Pair operator()() const;
            CImagePosition& operator=(Pair position);
            Pair Inc() const;
            friend class CFormatSeven;
        };
        class CColorCoding : CPart {
        public:
            using CPart::CPart;
            uint32_t operator()() const;
            CColorCoding& operator=(uint32_t coding);
            bool IsSupported(uint32_t coding) const;
            friend class CFormatSeven;
        };
        class CBytePerPacket : CPart {
        public:
            using CPart::CPart;
            uint32_t operator()() const;
            CBytePerPacket& operator=(uint32_t bytes);
            uint32_t Inc() const;
            uint32_t Max() const;
            friend class CFormatSeven;
        };

        CFormatSeven(CRhea* owner, uint32_t mode);
        CFormatSeven(const CFormatSeven&) = delete;
        CFormatSeven& operator=(const CFormatSeven&) = delete;

        Pair MaxSize() const;
        uint32_t BytePerFrame() const;
        uint32_t PacketsPerFrame() const;
        uint32_t Mode() const { return mode; }

        CImageSize ImageSize;
        CImagePosition ImagePosition;
        CColorCoding ColorCoding;
        CBytePerPacket BytePerPacket;

        // The 14 words of the Format 7 inquiry and the 7 of the packet inquiry.
        void Inquiry(uint32_t (&words)[14]) const;
        void PacketInquiry(uint32_t (&words)[7]) const;

    private:
        CRhea* owner;
        uint32_t mode;
    };

    // formatSeven[m] for m 0-7; any other index throws 0xCFF00007.
    class CFormatSevenModes {
    public:
        explicit CFormatSevenModes(CRhea* owner);
        CFormatSeven& operator[](int mode);

    private:
        CFormatSeven modes[8];
    };

    class CInfo {
    public:
        explicit CInfo(CRhea* owner) : owner(owner) {}
        // "0x<24-bit vendor id in hex>-<40-bit chip id in decimal>"
        std::string NodeId() const;
        std::string VendorName() const;
        std::string ModelName() const;
        std::string CameraFirmwareVersion() const;

    private:
        std::string Text(uint32_t selector, const char* context) const;
        CRhea* owner;
    };

private:
    struct CompletionRecord;
    friend struct ClientWindow;

    // Throws with the last error and `context` when the request failed.
    void Call(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
              const char* context);
    void EnsureCompletionPort();
    void CloseCompletionPort();
    // Sends an asynchronous request carrying a new completion record.
    void SendAsync(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                   uint32_t kind, uintptr_t context, const char* operation);
    // Query remove: closes the file handle but keeps the registrations.
    void CloseForRemoval();
    void Unregister(Tav::Platform::NotificationHandle& notification, bool report);

public:
    CTrigger trigger;
    COneShot oneShot;
    CContinuousShot continuousShot;
    CFormatSevenModes formatSeven;
    CInfo info;

private:
    // Read without the client lock by request threads while the notification
    // thread may close the device; a stale value fails as an invalid handle.
    std::atomic<Tav::Platform::DeviceHandle> deviceHandle{Tav::Platform::InvalidDeviceHandle};
    std::string deviceName;
    Tav::Platform::NotificationHandle handleNotification = 0;
    Tav::Platform::NotificationHandle extraHandleNotification = 0;
    WindowHandle extraWindow = 0;
    Callback onQueryRemove = nullptr;
    uintptr_t onQueryRemoveUser = 0;
    Callback onRemoveComplete = nullptr;
    uintptr_t onRemoveCompleteUser = 0;
    std::shared_ptr<Tav::Platform::CompletionPort> completionPort;
    const uint32_t completionKey;
    int32_t resourceId = -1;
    uint32_t resourceExtra = 0;
    // The handle value the process map knows this client by while its
    // handle is closed for a pending removal.
    Tav::Platform::DeviceHandle removalHandle = Tav::Platform::InvalidDeviceHandle;
};

} // namespace Rhea
