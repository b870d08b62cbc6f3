#include "Dib.h"

#include "DibImage.h"

#include "Common/Jel/JelException.h"
#include "Platform/SystemError.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>

#include <cstring>
#include <new>

namespace Jel {

namespace {

constexpr uint32_t ErrorPointer = 0x80004003;
constexpr uint32_t ErrorFail = 0x80004005;
constexpr uint32_t ErrorInvalidHandle = Tav::Platform::ErrorInvalidHandle;

} // namespace

CDib::CDib(HBITMAP bitmap, bool topDown, int paletteType)
    : bitmap(std::move(bitmap)), topDown(topDown ? 1 : 0), paletteType(paletteType)
{
}

CDib::~CDib() = default;

CDibPtr CDib::Create(int width, int height, int bitCount, bool topDown, int paletteType)
{
    try {
        HBITMAP section = DSCreateDIBSection(width, topDown ? -height : height, bitCount, paletteType == 1);
        return CDibPtr::Adopt(new CDib(std::move(section), topDown, paletteType));
    } catch (const Exception&) {
        throw JelException(ErrorFail, "CDib::Create");
    } catch (const std::bad_alloc&) {
        throw JelException(ErrorFail, "CDib::Create");
    }
}

CDibPtr CDib::LoadBMP(const std::string& fileName)
{
    try {
        HBITMAP section;
        DSLoadDIBSectionFromBMPFile(fileName, &section, nullptr);
        int type = section->BitCount() == 8 ? 1 : 0;
        return CDibPtr::Adopt(new CDib(std::move(section), false, type));
    } catch (const Exception&) {
        throw JelException(ErrorFail, "CDib::LoadBMP");
    } catch (const std::bad_alloc&) {
        throw JelException(ErrorFail, "CDib::LoadBMP");
    }
}

void CDib::Destroy()
{
    bitmap.reset();
}

uint8_t* CDib::GetPixels()
{
    if (!bitmap)
        throw JelException(ErrorInvalidHandle, "CDib::GetPixels");
    return bitmap->Pixels();
}

std::pair<int, int> CDib::GetSize() const
{
    if (!bitmap)
        return {0, 0};
    return {bitmap->Width(), bitmap->Height()};
}

int CDib::GetBytesPerLine() const
{
    if (!bitmap)
        throw JelException(ErrorInvalidHandle, "CDib::GetSize");
    return static_cast<int>(bitmap->BytesPerLine());
}

int CDib::GetImageSize() const
{
    if (!bitmap)
        throw JelException(ErrorInvalidHandle, "CDib::GetSize");
    return static_cast<int>(bitmap->ImageBytes());
}

int CDib::GetBitsPerPixel() const
{
    if (!bitmap)
        throw JelException(ErrorInvalidHandle, "CDib::GetBitsPerPixel");
    return bitmap->BitCount();
}

HBITMAP CDib::GetCopy() const
{
    if (!bitmap)
        throw JelException(ErrorFail, "CDib::GetCopy - No bitmap present");
    try {
        const DibSection& s = *bitmap;
        auto copy = std::make_unique<DibSection>(s.Header(), s.HasMasks() ? s.Masks() : nullptr, s.Colors().data(),
                                                 s.Colors().size());
        std::memcpy(copy->Pixels(), s.Pixels(), s.ImageBytes());
        return copy;
    } catch (const std::bad_alloc&) {
        throw JelException(Tav::Platform::ErrorNotEnoughMemory, "CDib::GetCopy");
    }
}

HBITMAP CDib::GetToppledCopy() const
{
    if (!bitmap)
        throw JelException(ErrorFail, "CDib::GetToppledCopy - No bitmap present");
    try {
        const DibSection& s = *bitmap;
        BitmapInfoHeader h = s.Header();
        h.biHeight = -h.biHeight;
        auto copy = std::make_unique<DibSection>(h, s.HasMasks() ? s.Masks() : nullptr, s.Colors().data(),
                                                 s.Colors().size());
        const size_t stride = s.BytesPerLine();
        const int rows = s.Height();
        for (int i = 0; i < rows; ++i)
            std::memcpy(copy->Pixels() + stride * size_t(rows - 1 - i), s.Pixels() + stride * size_t(i), stride);
        return copy;
    } catch (const std::bad_alloc&) {
        throw JelException(Tav::Platform::ErrorNotEnoughMemory, "CDib::GetToppledCopy");
    }
}

CDibPtr CDib::Clone(bool toppled) const
{
    if (!bitmap)
        throw JelException(ErrorFail, "CDib::Clone - No bitmap present");
    HBITMAP section = toppled ? GetToppledCopy() : GetCopy();
    bool newTopDown = toppled ? !topDown : topDown != 0;
    try {
        return CDibPtr::Adopt(new CDib(std::move(section), newTopDown, paletteType));
    } catch (const std::bad_alloc&) {
        throw JelException(Tav::Platform::ErrorNotEnoughMemory, "CDib::Clone");
    }
}

void CDib::SaveBMP(const std::string& fileName) const
{
    if (!bitmap)
        throw JelException(ErrorFail, "CDib::SaveBMP");
    bool written;
    if (topDown) {
        HBITMAP toppled = GetToppledCopy();
        written = WriteBMP(fileName, *toppled);
    } else {
        written = WriteBMP(fileName, *bitmap);
    }
    if (!written)
        throw JelException(Tav::Platform::GetLastError(), "CDib::SaveBMP");
}

void CDib::CopyToClipboard() const
{
    if (topDown) {
        CDibPtr clone = Clone(true);
        if (!clone)
            throw JelException(ErrorFail, "CDib::CopyToClipboard");
        clone->CopyToClipboard();
        return;
    }
    if (!bitmap)
        throw JelException(ErrorFail, "CDib::CopyToClipboard - No bitmap present");
    // The clipboard belongs to the GUI thread.
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        throw JelException(ErrorFail, "CDib::CopyToClipboard");
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        throw JelException(ErrorFail, "CDib::CopyToClipboard");
    try {
        std::vector<uint8_t> file = MakeBmpFileImage(*bitmap);
        auto* data = new QMimeData;
        data->setData("image/bmp", QByteArray(reinterpret_cast<const char*>(file.data()), qsizetype(file.size())));
        data->setImageData(DibToImage(*bitmap));
        clipboard->setMimeData(data);
    } catch (const std::bad_alloc&) {
        throw JelException(Tav::Platform::ErrorNotEnoughMemory, "CDib::CopyToClipboard");
    }
}

CDib* CDibPtr::operator->() const
{
    if (!dib)
        throw JelException(ErrorPointer, "CDibPtr::operator->");
    return dib;
}

} // namespace Jel
