#pragma once

#include "DibSection.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

namespace Jel {

class CDibPtr;

// A reference-counted bitmap section. The factories return it with one
// reference, held by the returned CDibPtr. Not locked: only the reference
// count may be touched from several threads at once.
class CDib {
public:
    static CDibPtr Create(int width, int height, int bitCount, bool topDown, int paletteType);
    static CDibPtr LoadBMP(const std::string& fileName);

    virtual ~CDib();

    void AddRef() { refCount.fetch_add(1, std::memory_order_relaxed); }
    void Release()
    {
        if (refCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }

    void Destroy();
    bool IsEmpty() const { return !bitmap; }
    uint8_t* GetPixels();
    // (width, height); (0, 0) when empty.
    std::pair<int, int> GetSize() const;
    int GetBytesPerLine() const;
    int GetImageSize() const;
    int GetBitsPerPixel() const;
    bool IsTopDown() const { return topDown != 0; }
    int GetPaletteType() const { return paletteType; }
    const DibSection* GetSection() const { return bitmap.get(); }

    // New sections: the same orientation, or the opposite one with the
    // stored rows reversed.
    HBITMAP GetCopy() const;
    HBITMAP GetToppledCopy() const;
    CDibPtr Clone(bool toppled) const;

    // Writes a bottom-up Windows bitmap file; throws JelException
    // ("CDib::SaveBMP") when the file cannot be written.
    void SaveBMP(const std::string& fileName) const;
    // Puts the picture on the clipboard as a bottom-up DIB ("image/bmp"
    // with a file header) and as an image.
    void CopyToClipboard() const;

private:
    CDib(HBITMAP bitmap, bool topDown, int paletteType);

    HBITMAP bitmap;
    int32_t topDown;
    int32_t paletteType; // 1: 8-bit grey ramp
    std::atomic<int32_t> refCount{1};
};

// Holds one CDib reference.
class CDibPtr {
public:
    CDibPtr() = default;
    // Adopts the reference the caller holds on `dib`.
    static CDibPtr Adopt(CDib* dib)
    {
        CDibPtr p;
        p.dib = dib;
        return p;
    }
    CDibPtr(const CDibPtr& other) : dib(other.dib)
    {
        if (dib)
            dib->AddRef();
    }
    CDibPtr(CDibPtr&& other) noexcept : dib(std::exchange(other.dib, nullptr)) {}
    CDibPtr& operator=(CDibPtr other) noexcept
    {
        std::swap(dib, other.dib);
        return *this;
    }
    virtual ~CDibPtr()
    {
        if (dib)
            dib->Release();
    }

    // Throws JelException 0x80004003 ("CDibPtr::operator->") when empty.
    CDib* operator->() const;
    CDib& operator*() const { return *operator->(); }
    CDib* Get() const { return dib; }
    explicit operator bool() const { return dib != nullptr; }
    void Reset() { *this = CDibPtr(); }

private:
    CDib* dib = nullptr;
};

} // namespace Jel
