#pragma once

// Small modules for exercising the graph: a source that sends what the test
// gives it, a sink that records what it receives, and a register set.

#include "Core/ModuleBase.h"
#include "DataBuffer/Packet.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace TavTest {

// Declares error port 0, auxiliary port -1 and data port 1.
class TestSource : public Tav::CModuleBase {
public:
    void OnInitialize() override;
    void Emit(const Tav::CSmartPointer<Tav::IPacket>& packet, int port = 1) { Send(port, packet); }
};

// Records every delivered packet; runs an optional hook inside OnData.
class CollectingSink : public Tav::CModuleBase {
public:
    struct Delivery {
        int port;
        Tav::CSmartPointer<Tav::IPacket> packet;
    };

    void OnInitialize() override;
    void OnData(int inputPort, const Tav::CSmartPointer<Tav::IPacket>& packet) override;
    void OnStart() override;
    void OnStop() override;

    std::vector<Delivery> Deliveries();
    size_t Count();
    // Threads holding or waiting for the sink lock exclusively.
    int SinkLockWriters() { return sinkLock.GetExclusiveCount(); }

    // Runs inside OnStop, under the exclusive sink lock.
    std::function<void()> onStop;
    // Runs inside OnData, on the delivering thread, while sinkLock is held.
    std::function<void(int port, const Tav::CSmartPointer<Tav::IPacket>&)> onData;
    // Input ports accepted; others go to the base class (rejected).
    std::vector<int> inputPorts{1};
    // False: packets are not kept after OnData (for long runs).
    bool keepPackets = true;
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};

private:
    std::mutex mutex;
    std::vector<Delivery> deliveries;
};

// A register set backed by a byte map; records the calls it gets. Calls
// may come from several threads; read the record through Calls() then.
class TestRegisters : public Tav::IRegisterSet {
public:
    void Read(uint64_t address, void* buffer, uint32_t length) override;
    void Write(uint64_t address, const void* buffer, uint32_t length) override;
    std::vector<std::string> Calls();

    std::map<uint64_t, uint8_t> bytes;
    std::vector<std::string> calls;

private:
    std::mutex mutex;
};

// A packet holding one string chunk with `text`.
Tav::CSmartPointer<Tav::IPacket> MakeTextPacket(const std::string& text);
// The text of a packet made by MakeTextPacket.
std::string TextOf(const Tav::CSmartPointer<Tav::IPacket>& packet);

} // namespace TavTest
