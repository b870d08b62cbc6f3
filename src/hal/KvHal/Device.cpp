#include "Device.h"

#include "DataBuffer/Chunk.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <cstring>
#include <new>
#include <optional>

namespace Tav::Hal::Kv {

namespace {

const char* const sourceFile = "Device.cpp";

// How long the device thread waits for a frame before it looks at its
// requests again; bounds the latency of state changes during a grab.
constexpr guint64 popTimeoutUs = 10000;

} // namespace

void CheckCameraError(GError*& error, int line, const char* file)
{
    if (!error)
        return;
    const std::string message = error->message ? error->message : "";
    const int code = error->code;
    g_clear_error(&error);
    throw CException(ErrorCamera, line, file, message.c_str(), code);
}

std::atomic<int> CDevice::liveBlocks{0};

// ---- memory blocks ----------------------------------------------------------

CDevice::CMemBlock::CMemBlock(std::shared_ptr<COwnerLink> owner, uint32_t payload, uint32_t generation,
                              bool singleShot)
    : owner(std::move(owner)), payload(payload), generation(generation), singleShot(singleShot)
{
    Allocate(payload + FrameTrailerBytes, GetDefaultAllocator().Get());
    // Aravis fills only the payload; the room behind it is ours.
    buffer = arv_buffer_new_full(payload, data, this, nullptr);
    liveBlocks.fetch_add(1);
}

CDevice::CMemBlock::~CMemBlock()
{
    if (buffer)
        g_object_unref(buffer);
    liveBlocks.fetch_sub(1);
}

void CDevice::CMemBlock::DeleteThis() { CDevice::Recycle(this); }

void CDevice::Recycle(CMemBlock* block)
{
    std::shared_ptr<COwnerLink> owner = block->owner;
    std::unique_lock<std::mutex> guard(owner->mutex);
    if (block->orphan || !owner->device) {
        guard.unlock();
        delete block;
        return;
    }
    block->downstream = false;
    // Blocks of a grab that is stopping stay with the device, which frees
    // them when it tears the stream down; a single shot fills one buffer once.
    if (!owner->accepting || block->generation != owner->generation || block->singleShot)
        return;
    g_object_ref(block->buffer);
    arv_stream_push_buffer(owner->device->stream, block->buffer);
}

// ---- construction and the IDevice operations --------------------------------

CDevice::CDevice()
    : cameraRegisters(*this), featureRegisters(*this), thread(*this), link(std::make_shared<COwnerLink>())
{
}

CDevice::~CDevice()
{
    if (thread.started) {
        Close();
        thread.Join(-1);
    }
    TearDown();
    if (camera) {
        if (controlLostHandler)
            g_signal_handler_disconnect(arvDevice, controlLostHandler);
        // Also ends the camera's heartbeat thread, the one that reports a
        // lost control channel.
        g_object_unref(camera);
    }
    std::lock_guard<std::mutex> guard(link->mutex);
    link->device = nullptr;
}

void CDevice::Open(const CDeviceDescriptor& descriptor, IChunkBufferSink* newSink)
{
    if (camera)
        throw CException(ErrorCamera, __LINE__, sourceFile, "The device is open already.", 0);
    sink = newSink;
    name = descriptor.GetName();
    description = descriptor.GetDescription();
    GError* error = nullptr;
    camera = arv_camera_new(name.c_str(), &error);
    CheckCameraError(error, __LINE__, sourceFile);
    if (!camera)
        throw CException(ErrorCamera, __LINE__, sourceFile, name.c_str(), 0);
    arvDevice = arv_camera_get_device(camera);
    controlLostHandler = g_signal_connect(arvDevice, "control-lost", G_CALLBACK(&CDevice::OnControlLost), this);
    {
        std::lock_guard<std::mutex> guard(link->mutex);
        link->device = this;
    }
    thread.CreateThreadResources();
    Post(Request::Open);
    thread.StartThread();
    thread.started = true;
}

void CDevice::Close()
{
    if (!thread.started || closePosted.exchange(true))
        return;
    grabbing = false;
    Post(Request::Close);
}

void CDevice::StartContinuousGrab() { StartGrab(false); }
void CDevice::InitSingleShot() { StartGrab(true); }
void CDevice::StopContinuousGrab() { StopGrab(); }
void CDevice::CancelSingleShot() { StopGrab(); }

IRegisterSet* CDevice::GetRegisterSet(int id)
{
    switch (id) {
    case 1024: return &cameraRegisters;
    case 1025: return &featureRegisters;
    default: return nullptr;
    }
}

void CDevice::ThrowIfLost(int line) const
{
    if (controlLost)
        throw CException(ErrorControlLost, line, sourceFile);
    if (!camera || closePosted)
        throw CException(ErrorNotOpen, line, sourceFile);
}

void CDevice::StartGrab(bool singleShot)
{
    ThrowIfLost(__LINE__);
    std::lock_guard<std::recursive_mutex> control(controlMutex);
    std::lock_guard<std::mutex> grab(grabMutex);
    ReleaseStream();

    GError* error = nullptr;
    const ArvPixelFormat format = arv_camera_get_pixel_format(camera, &error);
    CheckCameraError(error, __LINE__, sourceFile);
    if (!PixelLayoutOf(format, layout)) {
        const char* formatName = arv_camera_get_pixel_format_as_string(camera, &error);
        const std::string text = formatName ? formatName : "";
        g_clear_error(&error);
        throw CException(ErrorPixelFormat, __LINE__, sourceFile, text.c_str(), unsigned(format));
    }
    payload = arv_camera_get_payload(camera, &error);
    CheckCameraError(error, __LINE__, sourceFile);
    if (payload == 0 || payload > UINT32_MAX - FrameTrailerBytes)
        throw CException(ErrorCamera, __LINE__, sourceFile, "The camera states no usable payload size.", 0);
    // Cameras without the feature stream continuously anyway.
    arv_camera_set_acquisition_mode(camera, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
    g_clear_error(&error);

    stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
    if (!stream) {
        CheckCameraError(error, __LINE__, sourceFile);
        throw CException(ErrorCamera, __LINE__, sourceFile, "The camera offers no stream.", 0);
    }
    g_clear_error(&error);
    uint32_t newGeneration;
    {
        std::lock_guard<std::mutex> guard(link->mutex);
        newGeneration = ++link->generation;
    }
    generation = newGeneration;
    const uint32_t count = singleShot ? 1 : ContinuousBufferCount;
    try {
        for (uint32_t i = 0; i < count; ++i) {
            std::unique_ptr<CMemBlock> block(new CMemBlock(link, payload, newGeneration, singleShot));
            blocks.push_back(block.get());
            block.release();
        }
    } catch (...) {
        ReleaseStream();
        throw CCommonException(0xCEF0000A, __LINE__, sourceFile);
    }
    for (CMemBlock* block : blocks) {
        g_object_ref(block->buffer);
        arv_stream_push_buffer(stream, block->buffer);
    }
    {
        std::lock_guard<std::mutex> guard(link->mutex);
        link->accepting = true;
    }
    arv_camera_start_acquisition(camera, &error);
    if (error) {
        ReleaseStream();
        CheckCameraError(error, __LINE__, sourceFile);
    }
    grabbing = true;
    // Frames are delivered only once the device thread has reported the
    // new state, so that the start marker comes first.
    Post(singleShot ? Request::StartSingle : Request::StartContinuous, newGeneration);
}

void CDevice::StopGrab()
{
    grabbing = false;
    uint32_t current;
    {
        std::lock_guard<std::mutex> guard(link->mutex);
        link->accepting = false;
        current = link->generation;
    }
    // The device thread reports state 1 even when no grab was running, so
    // that a controller waiting for it does not wait forever.
    Post(Request::Stop, current);
}

void CDevice::Post(Request request, uint32_t requestGeneration)
{
    {
        std::lock_guard<std::mutex> guard(queueMutex);
        requests.push_back({request, requestGeneration});
    }
    queueChanged.notify_one();
}

void CDevice::OnControlLost(ArvDevice*, void* self)
{
    auto* device = static_cast<CDevice*>(self);
    if (!device->controlLost.exchange(true))
        device->Post(Request::ControlLost);
}

// ---- the stream -------------------------------------------------------------

void CDevice::TearDown()
{
    std::lock_guard<std::recursive_mutex> control(controlMutex);
    std::lock_guard<std::mutex> grab(grabMutex);
    ReleaseStream();
}

void CDevice::ReleaseStream()
{
    if (!stream)
        return;
    {
        std::lock_guard<std::mutex> guard(link->mutex);
        link->accepting = false;
        ++link->generation;
    }
    activeGeneration = 0;
    if (!controlLost) {
        GError* error = nullptr;
        arv_camera_stop_acquisition(camera, &error);
        if (error) {
            CException failure(ErrorCamera, __LINE__, sourceFile, error->message ? error->message : "", error->code);
            g_clear_error(&error);
            try {
                sink->OnError(failure);
            } catch (...) {
            }
        }
    }
    // The last reference: the stream stops its thread and drops the
    // buffers it still holds.
    g_object_unref(stream);
    stream = nullptr;
    std::vector<CMemBlock*> unused;
    {
        std::lock_guard<std::mutex> guard(link->mutex);
        for (CMemBlock* block : blocks) {
            if (block->downstream)
                block->orphan = true;
            else
                unused.push_back(block);
        }
    }
    blocks.clear();
    for (CMemBlock* block : unused)
        delete block;
}

bool CDevice::DeliverNext()
{
    CMemBlock* block = nullptr;
    {
        std::lock_guard<std::mutex> grab(grabMutex);
        if (!stream || activeGeneration == 0 || activeGeneration != generation)
            return false;
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, popTimeoutUs);
        if (!buffer)
            return true;
        auto* candidate = static_cast<CMemBlock*>(const_cast<void*>(arv_buffer_get_user_data(buffer)));
        // The stream's reference; the block keeps its own.
        g_object_unref(buffer);
        const ArvBufferStatus status = arv_buffer_get_status(buffer);
        if (status != ARV_BUFFER_STATUS_SUCCESS)
            NoteUnusableBuffer(status);
        else
            unusableInARow = 0;
        if (status != ARV_BUFFER_STATUS_SUCCESS || !WriteTrailer(candidate)) {
            std::lock_guard<std::mutex> guard(link->mutex);
            if (link->accepting && candidate->generation == link->generation) {
                g_object_ref(buffer);
                arv_stream_push_buffer(stream, buffer);
            }
            return true;
        }
        std::lock_guard<std::mutex> guard(link->mutex);
        candidate->downstream = true;
        block = candidate;
    }
    // Held across the call: the final release, wherever it happens, sends
    // the buffer back to the stream.
    CSmartPointer<IMemBlock> hold(block);
    try {
        sink->OnChunkBuffer(block);
    } catch (Tav::CException& e) {
        sink->OnError(e);
    }
    return true;
}

void CDevice::NoteUnusableBuffer(int status)
{
    // Single losses are the dropped-frames check's business; a whole ring
    // of failures in a row means nothing will arrive (a frame size changed
    // behind our back, a network that loses every frame), and a grab that
    // shows nothing must say why. Once per grab.
    if (++unusableInARow < blocks.size() || statusReported)
        return;
    statusReported = true;
    const std::string text = FormatString("%u frames in a row arrived unusable (buffer status %d)",
                                          unsigned(unusableInARow), status);
    CException failure(ErrorCamera, __LINE__, sourceFile, text.c_str(), status);
    try {
        sink->OnError(failure);
    } catch (...) {
    }
}

bool CDevice::WriteTrailer(CMemBlock* block)
{
    ArvBuffer* buffer = block->buffer;
    CPixelLayout frameLayout;
    const uint32_t format = arv_buffer_get_image_pixel_format(buffer);
    const int width = arv_buffer_get_image_width(buffer);
    const int height = arv_buffer_get_image_height(buffer);
    int xPadding = 0, yPadding = 0;
    arv_buffer_get_image_padding(buffer, &xPadding, &yPadding);
    size_t imageSize = 0;
    const void* image = arv_buffer_get_image_data(buffer, &imageSize);
    const bool known = PixelLayoutOf(format, frameLayout);
    const int64_t pitch = int64_t(width) * frameLayout.bytesPerPixel + (xPadding > 0 ? xPadding : 0);
    const bool fits = known && width > 0 && height > 0 && width <= 0xFFFF && height <= 0xFFFF && image &&
                      pitch <= INT32_MAX && pitch * height <= int64_t(block->payload);
    if (!fits) {
        // A camera that changed its format behind our back, or a frame we
        // cannot read: dropped, reported once per grab.
        if (!formatReported) {
            formatReported = true;
            CException failure(ErrorPixelFormat, __LINE__, sourceFile, known ? "(frame geometry)" : "(frame)",
                               unsigned(format));
            try {
                sink->OnError(failure);
            } catch (...) {
            }
        }
        return false;
    }
    auto* bytes = static_cast<unsigned char*>(block->Lock());
    // The pixels must start the chunk; a camera that put something in front
    // of them costs a move.
    if (image != bytes)
        std::memmove(bytes, image, size_t(pitch * height));
    CImageChunk* header = InitImageChunk(bytes, block->payload);
    header->pitch = int32_t(pitch);
    header->bitDepth = frameLayout.bitDepth;
    header->x = uint16_t(arv_buffer_get_image_x(buffer));
    header->y = uint16_t(arv_buffer_get_image_y(buffer));
    header->height = uint16_t(height);
    header->width = uint16_t(width);
    header->pixelType = frameLayout.pixelType;
    header->filterPattern = frameLayout.filterPattern;

    guint64 completed = 0, failures = 0, underruns = 0;
    arv_stream_get_statistics(stream, &completed, &failures, &underruns);
    const uint32_t count = frameCounter.Next(arv_buffer_get_frame_id(buffer), failures + underruns);
    unsigned char* counter = bytes + block->payload + ImageChunkOverhead;
    StoreU32(counter, count);
    CChunk::At(counter + 4)->Set(GUID_FrameCounterChunk, 28);
    block->Unlock();
    return true;
}

// ---- the device thread ------------------------------------------------------

void CDevice::Report(int state)
{
    reportedState = state;
    try {
        sink->OnStateChanged(state);
    } catch (...) {
    }
}

void CDevice::Execute(const CQueued& queued)
{
    switch (queued.request) {
    case Request::Open: Report(1); break;
    case Request::StartContinuous:
    case Request::StartSingle:
        if (reportedState != 1)
            break;
        {
            std::lock_guard<std::mutex> grab(grabMutex);
            frameCounter.Restart();
            formatReported = false;
            statusReported = false;
            unusableInARow = 0;
        }
        Report(queued.request == Request::StartSingle ? 3 : 2);
        {
            std::lock_guard<std::mutex> grab(grabMutex);
            if (stream && generation == queued.generation)
                activeGeneration = queued.generation;
        }
        break;
    case Request::Stop: {
        bool current;
        {
            std::lock_guard<std::mutex> grab(grabMutex);
            current = stream && generation == queued.generation;
        }
        if (current)
            TearDown();
        if (reportedState == 2 || reportedState == 3)
            Report(1);
        break;
    }
    case Request::ControlLost:
        TearDown();
        if (reportedState != 0 && reportedState != 4)
            Report(4);
        break;
    case Request::Close:
        TearDown();
        if (reportedState == 2 || reportedState == 3)
            Report(1);
        if (reportedState != 0)
            Report(0);
        break;
    }
}

void CDevice::Pump()
{
    bool idle = false;
    for (;;) {
        std::optional<CQueued> next;
        {
            std::unique_lock<std::mutex> guard(queueMutex);
            if (idle)
                queueChanged.wait(guard, [this] { return !requests.empty(); });
            if (!requests.empty()) {
                next = requests.front();
                requests.pop_front();
            }
        }
        if (next) {
            Execute(*next);
            if (next->request == Request::Close)
                return;
            idle = false;
            continue;
        }
        try {
            idle = !DeliverNext();
        } catch (Tav::CException& e) {
            try {
                sink->OnError(e);
            } catch (...) {
            }
        }
    }
}

void CDevice::CDeviceThread::Run() { owner.Pump(); }

} // namespace Tav::Hal::Kv
