#include "StatisticsDecoupler.h"

#include "Dib.h"
#include "StatisticsGuiThread.h"

#include "Common/Jel/JelException.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "DataBuffer/ValueChunk.h"
#include "Platform/MessageBox.h"

#include <QApplication>
#include <QFileDialog>
#include <QStringList>

#include <cstdlib>
#include <cstring>
#include <new>

namespace Tav {

namespace {

constexpr const char* SourceFile = "StatisticsDecoupler.cpp";
constexpr const char* LoadErrorCaption = "Error while laoding file";
constexpr uint32_t RefreshValue = 99;

void ShowError(const std::string& text, const char* caption)
{
    Platform::MessageBoxRequest box;
    box.text = text.c_str();
    box.caption = caption;
    box.icon = Platform::MessageBoxIcon::Error;
    Platform::ShowMessageBox(box);
}

// A bitmap file name from a file dialog; empty when cancelled. Unattended
// runs take TAV_DIALOG_FILE (cancel when unset) so the commands can run
// without a person.
std::string ChooseBitmapFile(bool save)
{
    if (Platform::IsUnattended()) {
        const char* given = std::getenv("TAV_DIALOG_FILE");
        std::string name = given ? given : "";
        // The dialog's default extension, for a name typed without one.
        const size_t base = name.find_last_of('/');
        if (!name.empty() && name.find('.', base == std::string::npos ? 0 : base + 1) == std::string::npos)
            name += ".bmp";
        return name;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return {};
    QString chosen;
    auto run = [&] {
        QFileDialog dialog(QApplication::activeWindow(), QString(), QString(), "Bitmap Files (*.bmp)");
        dialog.setDefaultSuffix("bmp");
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().first();
    };
    // Register writes come from the Java GUI's thread; dialogs belong to the
    // GUI thread.
    RunOnStatisticsGuiThread(run);
    return chosen.toStdString();
}

// Bytes an 8-bit image of this shape needs: every row but the last at the
// pitch, the last one as wide as the image.
bool HoldsMono8Image(int size, int32_t pitch, int width, int height)
{
    const int64_t stride = std::llabs(int64_t(pitch));
    if (width == 0 || height == 0)
        return true;
    return stride >= width && int64_t(size) >= stride * (height - 1) + width;
}

// The grey level of each palette index, or false when the palette is not
// grey (every entry with equal red, green and blue).
bool GreyLevels(const Jel::Palette& colors, uint8_t (&levels)[256])
{
    if (colors.empty())
        return false;
    std::memset(levels, 0, sizeof levels);
    for (size_t i = 0; i < colors.size() && i < 256; ++i) {
        const Jel::RgbQuad& c = colors[i];
        if (c.red != c.green || c.green != c.blue)
            return false;
        levels[i] = c.red;
    }
    return true;
}

} // namespace

CStatisticsDecoupler::CStatisticsDecoupler() = default;

CStatisticsDecoupler::~CStatisticsDecoupler()
{
    // The thread calls back into this object; it must end while the object
    // is still whole, not in the base destructors.
    RequestStop();
    if (!Join(GetStopTimeout()))
        Terminate();
    WaitForAbandonedThreads();
    DiscardQueue();
}

void CStatisticsDecoupler::OnInitialize()
{
    CModuleBase::OnInitialize();
    CreateThreadResources();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
    AddOutputPort(1);
    AddOutputPort(3);
    AddSignal(1);
    StartThread();
    WaitUntilStarted(-1);
}

void CStatisticsDecoupler::OnDeinitialize()
{
    if (IsStarted()) {
        try {
            CConnectorBase::Stop();
        } catch (const CException& error) {
            ReportError(error);
        } catch (...) {
            ReportError(CCommonException(0xCEF00002, 88, SourceFile));
        }
    }
    try {
        RequestStop();
        // Packets left behind would never be sent; a thread that is still
        // sending keeps the queue until the destructor.
        if (Join(GetStopTimeout()))
            DiscardQueue();
    } catch (const CException& error) {
        ReportError(error);
    } catch (...) {
        ReportError(CCommonException(0xCEF00002, 88, SourceFile));
    }
    CModuleBase::OnDeinitialize();
}

void CStatisticsDecoupler::OnStop()
{
    // Released after the lock is left: the last release may hand a memory
    // block back to its device.
    std::list<QueuedPacket> removed;
    CSmartPointer<IPacket> released;
    CCriticalSectionLock guard(queueLock);
    if (!queue.empty() && queue.front().isImage && !queue.front().isMarker)
        removed.splice(removed.end(), queue, queue.begin());
    released = std::move(stored);
    stored = nullptr;
}

void CStatisticsDecoupler::OnData(int inputPort, const CSmartPointer<IPacket>& packet)
{
    switch (inputPort) {
    case 1:
        Enqueue(packet);
        break;
    case 2:
        HandleRegisterRequests(*this, packet);
        break;
    default:
        CModuleBase::OnData(inputPort, packet); // rejects the port
    }
}

bool CStatisticsDecoupler::OnSignal(int key)
{
    switch (key) {
    case -1:
        return OnStopSignal();
    case 1:
        return SendNext();
    default:
        throw CCommonException(0xCEF00000, 107, "statisticsdecoupler.cpp");
    }
}

bool CStatisticsDecoupler::Enqueue(const CSmartPointer<IPacket>& packet)
{
    if (!IsStarted() || !packet)
        return false;
    try {
        // The chunk walks happen before the lock is taken, so the producer
        // holds it only for the list operation.
        const bool isMarker = HasChunk(*packet, GUID_AcquisitionMarkerChunk);
        const bool isImage = HasChunk(*packet, GUID_ImageChunk);
        if (!isMarker && !isImage)
            return false;
        std::list<QueuedPacket> removed;
        {
            CCriticalSectionLock guard(queueLock);
            if (isMarker) {
                if (markerCount > 1) {
                    removed.splice(removed.end(), queue);
                    markerCount = 0;
                }
                queue.push_back({packet, isImage, true});
                ++markerCount;
            } else {
                // A marker is never replaced by an image: the run state
                // would be lost and markerCount would go wrong.
                if (!queue.empty() && queue.back().isImage && !queue.back().isMarker)
                    removed.splice(removed.end(), queue, std::prev(queue.end()));
                queue.push_back({packet, true, false});
            }
        }
        SetSignal(1);
        return true;
    } catch (const CException& error) {
        ReportError(error);
    } catch (...) {
        ReportError(CCommonException(0xCEF00000, __LINE__, SourceFile));
    }
    return false;
}

bool CStatisticsDecoupler::SendNext()
{
    try {
        CSmartPointer<IPacket> forward;
        {
            CCriticalSectionLock guard(queueLock);
            if (queue.empty())
                return true;
            QueuedPacket next = std::move(queue.front());
            queue.pop_front();
            forward = next.packet;
            if (next.isMarker) {
                --markerCount;
                CChunkPtr<CChunk> marker;
                forward->FindChunk(marker, GUID_AcquisitionMarkerChunk);
                switch (ReadChunkValue(marker)) {
                case 0:
                    runMode = 1;
                    break;
                case 1:
                    runMode = 0;
                    break;
                }
            } else if (next.isImage) {
                if (sourceMode == SourceCapture)
                    stored = forward;
                else if (sourceMode == SourceFreeze) {
                    if (!stored)
                        stored = forward;
                    else
                        forward = stored;
                }
            }
        }
        if (notify)
            SendRefresh();
        Send(1, forward);
    } catch (const CException& error) {
        ReportError(error);
    } catch (...) {
        ReportError(CCommonException(0xCEF00000, 273, SourceFile));
    }
    // Also after a failed send: what is still queued must not wait for the
    // next producer.
    bool more;
    {
        CCriticalSectionLock guard(queueLock);
        more = !queue.empty();
    }
    if (more)
        SetSignal(1);
    return true;
}

void CStatisticsDecoupler::Read(uint64_t address, void* buffer, uint32_t length)
{
    if ((address >> 32) != 0 || (address != RegisterStatus && address != RegisterSourceMode))
        throw CCommonException(0xCEF00008, 297, SourceFile);
    if (!buffer || length != 4)
        throw CCommonException(0xCEF00006, __LINE__, SourceFile);
    uint32_t value;
    {
        CCriticalSectionLock guard(queueLock);
        if (address == RegisterSourceMode) {
            value = static_cast<uint32_t>(sourceMode);
        } else {
            value = StatusAlways;
            if (runMode == 1 && sourceMode == SourceFreeze)
                value |= StatusFrozenRun;
            if (stored) {
                CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*stored, GUID_ImageChunk);
                if (!image.IsNull() && image->pixelType == PixelTypeMono8)
                    value |= StatusMono8Stored;
            }
        }
    }
    std::memcpy(buffer, &value, sizeof value);
}

void CStatisticsDecoupler::Write(uint64_t address, const void* buffer, uint32_t length)
{
    if ((address >> 32) != 0 || address < RegisterSourceMode || address > RegisterSave)
        throw CCommonException(0xCEF00008, 323, SourceFile);
    if (!buffer || length != 4)
        throw CCommonException(0xCEF00006, __LINE__, SourceFile);
    int32_t value;
    std::memcpy(&value, buffer, sizeof value);
    switch (address) {
    case RegisterSourceMode:
        SetSourceMode(value);
        break;
    case RegisterLoad:
        LoadStoredImage();
        break;
    case RegisterSave:
        SaveStoredImage();
        break;
    }
}

void CStatisticsDecoupler::LoadStoredImage()
{
    const std::string fileName = ChooseBitmapFile(false);
    if (!fileName.empty()) {
        CSmartPointer<IPacket> packet;
        try {
            Jel::CDibPtr dib = Jel::CDib::LoadBMP(fileName);
            const Jel::DibSection* section = dib->GetSection();
            uint8_t levels[256];
            if (dib->GetPaletteType() != 1 || !section || section->BitCount() != 8 ||
                !GreyLevels(section->Colors(), levels)) {
                ShowError("Only monochrome images are supported", LoadErrorCaption);
                return;
            }
            const auto [width, height] = dib->GetSize();
            CChunkPtr<CImageChunk> image =
                CreateImageChunkBuffer(0, 0, width, height, GetDefaultAllocator(), PixelTypeMono8);
            uint8_t* pixels = static_cast<uint8_t*>(image.LockData(nullptr));
            const uint8_t* rows = section->Pixels();
            const size_t bytesPerLine = section->BytesPerLine();
            for (int i = 0; i < height; ++i) {
                // Picture row i, whichever way the bitmap stores its rows.
                const int storedRow = dib->IsTopDown() ? i : height - 1 - i;
                const uint8_t* from = rows + size_t(storedRow) * bytesPerLine;
                uint8_t* to = pixels + size_t(i) * size_t(width);
                for (int x = 0; x < width; ++x)
                    to[x] = levels[from[x]];
            }
            image.UnlockData();
            packet = CPacket::Create();
            packet->AddChunkBuffer(image.GetBuffer().Get());
        } catch (const Jel::Exception& error) {
            ShowError(error.GetMessage(), LoadErrorCaption);
            SetSourceMode(SourceCapture);
            return;
        } catch (const CException& error) {
            // A bitmap too large for an image chunk, or memory ran out.
            ShowError(error.GetDescription(), LoadErrorCaption);
            return;
        } catch (const std::bad_alloc&) {
            ShowError(CCommonException(0xCEF0000A, __LINE__, SourceFile).GetDescription(), LoadErrorCaption);
            return;
        }
        CSmartPointer<IPacket> replaced;
        CCriticalSectionLock guard(queueLock);
        replaced = std::move(stored);
        stored = packet;
    }
    SendRefresh();
}

void CStatisticsDecoupler::SaveStoredImage()
{
    CSmartPointer<IPacket> packet;
    {
        CCriticalSectionLock guard(queueLock);
        packet = stored;
    }
    if (!packet)
        throw CCommonException(0xCEF00006, 393, SourceFile);
    CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*packet, GUID_ImageChunk);
    if (image.IsNull())
        throw CCommonException(0xCEF00006, 397, SourceFile);
    if (image->pixelType != PixelTypeMono8)
        throw CCommonException(0xCEF00006, 400, SourceFile);
    const CImageChunk header = *image;
    const int width = header.width;
    const int height = header.height;
    int size = 0;
    const uint8_t* pixels = static_cast<const uint8_t*>(image.LockData(&size));
    struct Unlock {
        const CChunkPtr<CImageChunk>& image;
        ~Unlock() { image.UnlockData(); }
    } unlock{image};
    if (!HoldsMono8Image(size, header.pitch, width, height) || width == 0 || height == 0)
        throw CCommonException(0xCEF00006, __LINE__, SourceFile);

    try {
        Jel::CDibPtr dib = Jel::CDib::Create(width, height, 8, true, 1);
        uint8_t* rows = dib->GetPixels();
        const size_t bytesPerLine = static_cast<size_t>(dib->GetBytesPerLine());
        const int64_t stride = std::llabs(int64_t(header.pitch));
        for (int i = 0; i < height; ++i) {
            // A negative pitch stores the bottom line first.
            const int line = header.pitch < 0 ? height - 1 - i : i;
            std::memcpy(rows + size_t(i) * bytesPerLine, pixels + stride * line, size_t(width));
        }
        const std::string fileName = ChooseBitmapFile(true);
        if (!fileName.empty())
            dib->SaveBMP(fileName);
    } catch (const Jel::Exception& error) {
        ShowError(error.GetMessage(), LoadErrorCaption);
        SetSourceMode(SourceCapture);
    }
}

size_t CStatisticsDecoupler::GetQueueLength()
{
    CCriticalSectionLock guard(queueLock);
    return queue.size();
}

CSmartPointer<IPacket> CStatisticsDecoupler::GetStoredPacket()
{
    CCriticalSectionLock guard(queueLock);
    return stored;
}

int CStatisticsDecoupler::GetRunMode()
{
    CCriticalSectionLock guard(queueLock);
    return runMode;
}

int CStatisticsDecoupler::GetSourceMode()
{
    CCriticalSectionLock guard(queueLock);
    return sourceMode;
}

void CStatisticsDecoupler::SendRefresh()
{
    CSmartPointer<IPacket> refresh = CPacket::Create();
    refresh->AddChunkBuffer(MakeValueChunkBuffer(GUID_RefreshChunk, RefreshValue).Get());
    Send(3, refresh);
}

void CStatisticsDecoupler::SetSourceMode(int mode)
{
    CCriticalSectionLock guard(queueLock);
    sourceMode = mode;
}

void CStatisticsDecoupler::DiscardQueue()
{
    std::list<QueuedPacket> removed;
    CSmartPointer<IPacket> released;
    CCriticalSectionLock guard(queueLock);
    removed.splice(removed.end(), queue);
    markerCount = 0;
    released = std::move(stored);
    stored = nullptr;
}

} // namespace Tav
