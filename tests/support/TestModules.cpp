#include "support/TestModules.h"

#include "DataBuffer/Guid.h"
#include "DataBuffer/StringChunk.h"

namespace TavTest {

using namespace Tav;

void TestSource::OnInitialize()
{
    CModuleBase::OnInitialize();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
    AddOutputPort(1);
}

void CollectingSink::OnInitialize()
{
    CModuleBase::OnInitialize();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
}

void CollectingSink::OnData(int inputPort, const CSmartPointer<IPacket>& packet)
{
    bool accepted = false;
    for (int p : inputPorts)
        accepted = accepted || p == inputPort;
    if (!accepted) {
        CModuleBase::OnData(inputPort, packet);
        return;
    }
    if (onData)
        onData(inputPort, packet);
    if (!keepPackets)
        return;
    std::lock_guard<std::mutex> guard(mutex);
    deliveries.push_back({inputPort, packet});
}

void CollectingSink::OnStart()
{
    ++starts;
}

void CollectingSink::OnStop()
{
    if (onStop)
        onStop();
    ++stops;
}

std::vector<CollectingSink::Delivery> CollectingSink::Deliveries()
{
    std::lock_guard<std::mutex> guard(mutex);
    return deliveries;
}

size_t CollectingSink::Count()
{
    std::lock_guard<std::mutex> guard(mutex);
    return deliveries.size();
}

std::vector<std::string> TestRegisters::Calls()
{
    std::lock_guard<std::mutex> guard(mutex);
    return calls;
}

void TestRegisters::Read(uint64_t address, void* buffer, uint32_t length)
{
    std::lock_guard<std::mutex> guard(mutex);
    calls.push_back("read " + std::to_string(address) + " " + std::to_string(length));
    auto* out = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < length; ++i)
        out[i] = bytes[address + i];
}

void TestRegisters::Write(uint64_t address, const void* buffer, uint32_t length)
{
    std::lock_guard<std::mutex> guard(mutex);
    calls.push_back("write " + std::to_string(address) + " " + std::to_string(length));
    auto* in = static_cast<const uint8_t*>(buffer);
    for (uint32_t i = 0; i < length; ++i)
        bytes[address + i] = in[i];
}

CSmartPointer<IPacket> MakeTextPacket(const std::string& text)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(MakeStringChunkBuffer({text}, 0));
    return packet;
}

std::string TextOf(const CSmartPointer<IPacket>& packet)
{
    CChunkPtr<CChunk> chunk;
    packet->FindChunk(chunk, GUID_StringChunk);
    if (!chunk)
        return std::string();
    CStringChunkContent content = ReadStringChunk(chunk, 0);
    return content.strings.empty() ? std::string() : content.strings[0];
}

} // namespace TavTest
