#pragma once

#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/ChunkPtr.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/SmartPointer.h"

namespace Tav {

// Writes a Mono16 image chunk as a 16-bit greyscale TIFF file. Throws the
// TIFF errors 0xCFD10000 (not Mono16) and 0xCFD10001 (writing failed).
void SaveChunkAsTiff(const char* fileName, const CChunkPtr<CImageChunk>& chunk);

// Reads a 16-bit greyscale TIFF file into a new chunk buffer holding one
// Mono16 image chunk. Throws the TIFF errors 0xCFD10002-0xCFD10004, and
// 0xCEF0000A for an image whose chunk would not fit in memory.
CSmartPointer<CChunkBuffer> LoadTiffAsChunk(const char* fileName);

} // namespace Tav
