#pragma once

#include <cstdint>

namespace Tav::Hal::Kv {

// Turns the frame ids of delivered buffers into a 32-bit counter that steps
// by the number of frames the camera sent, so that a dropped-frames check
// sees every gap. GigE Vision block ids of 16 bits run 1..65535 and wrap
// to 1; where ids do not advance at all (cameras without them), the frames
// the stream counted as lost fill in.
class CFrameCounter {
public:
    void Restart() { first = true; }

    // `lostSoFar`: the stream's failed and missed frames since it started.
    uint32_t Next(uint64_t frameId, uint64_t lostSoFar)
    {
        if (first) {
            first = false;
            counter = uint32_t(frameId);
        } else if (frameId > lastId) {
            counter += uint32_t(frameId - lastId);
        } else if (frameId < lastId && frameId > 0 && lastId <= shortIdLimit) {
            counter += uint32_t(shortIdLimit - lastId + frameId);
        } else {
            counter += uint32_t(1 + (lostSoFar - lastLost));
        }
        lastId = frameId;
        lastLost = lostSoFar;
        return counter;
    }

private:
    static constexpr uint64_t shortIdLimit = 0xFFFF;
    bool first = true;
    uint64_t lastId = 0;
    uint64_t lastLost = 0;
    uint32_t counter = 0;
};

} // namespace Tav::Hal::Kv
