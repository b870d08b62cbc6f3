// Feeds arbitrary bytes to the bitmap file reader: it must either load a
// bitmap or refuse the file with a Jel exception.

#include "DibSection.h"

#include "Common/Jel/Exception.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        Jel::HBITMAP bitmap;
        Jel::Palette palette;
        Jel::DSLoadDIBSectionFromBMPMemory(data, size, &bitmap, &palette);
        // Touch every stored byte so that a wrong size shows.
        unsigned sum = 0;
        for (size_t i = 0; i < bitmap->ImageBytes(); ++i)
            sum += bitmap->Pixels()[i];
        volatile unsigned sink = sum;
        (void)sink;
        Jel::GetDibInfo(*bitmap);
    } catch (const Jel::Exception&) {
    }
    return 0;
}
