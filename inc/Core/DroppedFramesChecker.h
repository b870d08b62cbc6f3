#pragma once

#include "Core/ModuleBase.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace Tav {

// A pass-through module that watches frame counters: every packet on input
// port 1 goes on unchanged on output port 1 first, then each frame-counter
// chunk is compared with the previous one. A gap or a step backwards (other
// than -1) is traced, counted and kept as the last message.
//
// Packets are taken from one upstream thread at a time; the statistics may
// be read from any thread.
class CDroppedFramesChecker : public CModuleBase {
public:
    struct Statistics {
        uint64_t droppedFrames = 0; // frames missing in all gaps since the last start
        uint64_t reversals = 0;     // counters not greater than their predecessor
    };

    void OnInitialize() override;
    // The next counter is the new reference; the statistics start again.
    void OnStart() override;
    void OnData(int inputPort, const CSmartPointer<IPacket>& packet) override;

    virtual void ProcessPacket(const CSmartPointer<IPacket>& packet);

    Statistics GetStatistics() const;
    // The last diagnostic as a packet holding one string chunk; empty
    // before the first one.
    CSmartPointer<IPacket> GetLastMessage();

protected:
    bool firstFrame = true;
    uint32_t lastCounter = 0;

private:
    void CheckCounter(uint32_t counter);
    void HandleMessage(const std::string& text);

    std::atomic<uint64_t> droppedFrames{0};
    std::atomic<uint64_t> reversals{0};
    std::mutex messageLock;
    CSmartPointer<IPacket> lastMessage;
};

} // namespace Tav
