#include "Core/DroppedFramesChecker.h"

#include "DataBuffer/Guid.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/StringChunk.h"
#include "DataBuffer/ValueChunk.h"

namespace Tav {

void CDroppedFramesChecker::OnInitialize()
{
    CModuleBase::OnInitialize();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
    AddOutputPort(1);
}

void CDroppedFramesChecker::OnStart()
{
    firstFrame = true;
    droppedFrames.store(0, std::memory_order_relaxed);
    reversals.store(0, std::memory_order_relaxed);
}

void CDroppedFramesChecker::OnData(int inputPort, const CSmartPointer<IPacket>& packet)
{
    if (inputPort != 1) {
        CModuleBase::OnData(inputPort, packet);
        return;
    }
    ProcessPacket(packet);
}

void CDroppedFramesChecker::ProcessPacket(const CSmartPointer<IPacket>& packet)
{
    // Forwarded before it is looked at; a failing send ends here.
    Send(1, packet);
    if (!packet)
        return;
    // The packet has gone on already, so a malformed buffer is this module's
    // finding: it is reported here rather than thrown back to the sender.
    try {
        CSmartPointer<IEnumChunkBuffers> buffers;
        packet->EnumChunkBuffers(buffers);
        CSmartPointer<IChunkBuffer> buffer;
        while (buffers && buffers->Next(buffer)) {
            CSmartPointer<IEnumChunks> chunks;
            buffer->EnumChunks(chunks);
            CChunkPtr<CChunk> chunk;
            while (chunks && chunks->Next(chunk)) {
                if (chunk.IsType(GUID_FrameCounterChunk))
                    CheckCounter(ReadChunkValue(chunk));
            }
        }
    } catch (const CException& error) {
        ReportError(error);
    }
}

void CDroppedFramesChecker::CheckCounter(uint32_t counter)
{
    if (firstFrame) {
        firstFrame = false;
    } else {
        const uint32_t step = counter - lastCounter;
        if (step != 1 && step != 0xFFFFFFFFu) {
            try {
                if (counter > lastCounter) {
                    droppedFrames.fetch_add(step - 1, std::memory_order_relaxed);
                    HandleMessage(FormatString("%d frames have been dropped! (Old counter: %d, current counter: %d",
                                               static_cast<int>(step - 1), static_cast<int>(lastCounter),
                                               static_cast<int>(counter)));
                } else {
                    reversals.fetch_add(1, std::memory_order_relaxed);
                    HandleMessage(FormatString("Unexpected frame counter (%d). The received frame counter isn't "
                                               "greater than the previous one (%d)!",
                                               static_cast<int>(counter), static_cast<int>(lastCounter)));
                }
            } catch (const CException& error) {
                ReportError(error);
            }
        }
    }
    lastCounter = counter;
}

void CDroppedFramesChecker::HandleMessage(const std::string& text)
{
    Trace("%s\n", text.c_str());
    CSmartPointer<IPacket> message = CPacket::Create();
    message->AddChunkBuffer(MakeStringChunkBuffer({text}, 0).Get());
    std::lock_guard<std::mutex> guard(messageLock);
    lastMessage = message;
}

CDroppedFramesChecker::Statistics CDroppedFramesChecker::GetStatistics() const
{
    Statistics statistics;
    statistics.droppedFrames = droppedFrames.load(std::memory_order_relaxed);
    statistics.reversals = reversals.load(std::memory_order_relaxed);
    return statistics;
}

CSmartPointer<IPacket> CDroppedFramesChecker::GetLastMessage()
{
    std::lock_guard<std::mutex> guard(messageLock);
    return lastMessage;
}

} // namespace Tav
