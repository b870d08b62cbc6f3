// Arbitrary bytes as a TIFF file for LoadTiffAsChunk: every input must end
// in a chunk buffer or an exception.
#include "Common/Exception.h"
#include "DataBuffer/Guid.h"
#include "TavTiff.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const std::string& InputPath()
{
    static const std::string path = [] {
        char pattern[] = "/tmp/tav-fuzz-tiff-XXXXXX";
        int fd = mkstemp(pattern);
        if (fd < 0)
            std::abort();
        close(fd);
        return std::string(pattern);
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = InputPath();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    if (size && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
    try {
        Tav::CSmartPointer<Tav::CChunkBuffer> buffer = Tav::LoadTiffAsChunk(path.c_str());
        // What loads must be a well-formed image chunk.
        if (!buffer->Validate(nullptr) || !buffer->FindChunk(Tav::GUID_ImageChunk))
            std::abort();
    } catch (const Tav::CException&) {
    }
    return 0;
}
