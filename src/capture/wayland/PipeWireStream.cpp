#include "capture/wayland/PipeWireStream.h"

#include "log/LogSink.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#pragma GCC diagnostic pop

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

namespace velmarin::capture {

namespace {

using logging::Level;

// Sizes the builder needs for one format or buffers object.
constexpr std::size_t podBufferSize = 1024;

} // namespace

struct PipeWireStream::Pw {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    std::uint32_t format = 0;
    int width = 0;
    int height = 0;
};

PipeWireStream::PipeWireStream()
    : m_pw(std::make_unique<Pw>()) {}

PipeWireStream::~PipeWireStream() {
    // Frames are delivered on the loop's thread, or, once that has stopped,
    // straight from PipeWire's data thread; so the stream goes first, under
    // the loop's lock, while the state its callbacks use is still whole.
    Pw& pw = *m_pw;
    if (pw.loop)
        pw_thread_loop_lock(pw.loop);
    if (pw.stream) {
        spa_hook_remove(&pw.listener);
        pw_stream_destroy(pw.stream);
    }
    if (pw.core)
        pw_core_disconnect(pw.core);
    if (pw.loop) {
        pw_thread_loop_unlock(pw.loop);
        pw_thread_loop_stop(pw.loop);
    }
    if (pw.context)
        pw_context_destroy(pw.context);
    if (pw.loop)
        pw_thread_loop_destroy(pw.loop);
}

Expected<std::unique_ptr<PipeWireStream>, std::string>
PipeWireStream::open(std::uint32_t node, int remote, std::chrono::milliseconds timeout) {
    pw_init(nullptr, nullptr);
    std::unique_ptr<PipeWireStream> self(new PipeWireStream());
    Pw& pw = *self->m_pw;
    pw.loop = pw_thread_loop_new("velmarin-pipewire", nullptr);
    if (!pw.loop)
        return unexpected(std::string("cannot create the PipeWire loop"));
    pw.context = pw_context_new(pw_thread_loop_get_loop(pw.loop), nullptr, 0);
    if (!pw.context || pw_thread_loop_start(pw.loop) < 0)
        return unexpected(std::string("cannot start the PipeWire loop"));

    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = [](void* data, pw_stream_state, pw_stream_state state,
                             const char* error) {
            auto* stream = static_cast<PipeWireStream*>(data);
            if (state == PW_STREAM_STATE_ERROR)
                stream->onFailed(error ? error : "stream error");
            else if (state == PW_STREAM_STATE_UNCONNECTED)
                stream->onFailed("stream closed");
        };
        e.param_changed = [](void* data, std::uint32_t id, const spa_pod* param) {
            if (id != SPA_PARAM_Format || !param)
                return;
            auto* self = static_cast<PipeWireStream*>(data);
            spa_video_info_raw info{};
            if (spa_format_video_raw_parse(param, &info) < 0)
                return;
            // Shared memory only: the frames are read by the processor.
            std::uint8_t buffer[podBufferSize];
            spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
            const spa_pod* params[1];
            params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
                SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(4, 2, 16),
                SPA_PARAM_BUFFERS_dataType,
                SPA_POD_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
            pw_stream_update_params(self->m_pw->stream, params, 1);
            self->onFormat(info.format, static_cast<int>(info.size.width),
                           static_cast<int>(info.size.height));
        };
        e.process = [](void* data) {
            auto* self = static_cast<PipeWireStream*>(data);
            pw_stream* stream = self->m_pw->stream;
            // Only the newest buffer counts; older ones go straight back.
            pw_buffer* newest = nullptr;
            while (pw_buffer* buffer = pw_stream_dequeue_buffer(stream)) {
                if (newest)
                    pw_stream_queue_buffer(stream, newest);
                newest = buffer;
            }
            if (!newest)
                return;
            spa_buffer* buffer = newest->buffer;
            const auto* header = static_cast<const spa_meta_header*>(
                spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
            const spa_data& plane = buffer->datas[0];
            const Pw& pw = *self->m_pw;
            const int stride =
                plane.chunk && plane.chunk->stride > 0 ? plane.chunk->stride : pw.width * 4;
            const bool corrupted = header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED);
            // A buffer without pixels (a pointer-only update) has nothing to
            // show; one smaller than the agreed size is not trusted.
            const bool complete = buffer->n_datas > 0 && plane.data && plane.chunk &&
                                  plane.chunk->size > 0 && pw.width > 0 && pw.height > 0 &&
                                  stride >= pw.width * 4 &&
                                  std::uint64_t(plane.chunk->offset) +
                                          std::uint64_t(stride) * std::uint64_t(pw.height) <=
                                      plane.maxsize;
            if (complete && !corrupted)
                self->onFrame(static_cast<const std::uint8_t*>(plane.data) + plane.chunk->offset,
                              stride, pw.format);
            pw_stream_queue_buffer(stream, newest);
        };
        return e;
    }();

    pw_thread_loop_lock(pw.loop);
    pw.core = remote >= 0 ? pw_context_connect_fd(pw.context, remote, nullptr, 0)
                          : pw_context_connect(pw.context, nullptr, 0);
    if (pw.core)
        pw.stream =
            pw_stream_new(pw.core, "Velmarin",
                          pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                            "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    int connected = -1;
    if (pw.stream) {
        pw_stream_add_listener(pw.stream, &pw.listener, &events, self.get());
        std::uint8_t buffer[podBufferSize];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        spa_rectangle defaultSize{1920, 1080}, minSize{1, 1}, maxSize{16384, 16384};
        spa_fraction defaultRate{0, 1}, minRate{0, 1}, maxRate{1000, 1};
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                                   SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx,
                                   SPA_VIDEO_FORMAT_RGBA),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate,
            SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
        connected = pw_stream_connect(
            pw.stream, PW_DIRECTION_INPUT, node,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
            params, 1);
    }
    pw_thread_loop_unlock(pw.loop);
    if (connected < 0)
        return unexpected("cannot connect to PipeWire node " + std::to_string(node));

    std::unique_lock lock(self->m_mutex);
    if (!self->m_changed.wait_for(lock, timeout,
                                  [&] { return self->m_width > 0 || self->m_failed; }) ||
        self->m_failed)
        return unexpected("no video format from PipeWire node " + std::to_string(node));
    lock.unlock();
    return self;
}

int PipeWireStream::width() const {
    std::lock_guard lock(m_mutex);
    return m_width;
}

int PipeWireStream::height() const {
    std::lock_guard lock(m_mutex);
    return m_height;
}

bool PipeWireStream::healthy() const {
    std::lock_guard lock(m_mutex);
    return !m_failed;
}

bool PipeWireStream::waitForFrame(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    // A failed stream waits out the deadline too: the caller loops on it.
    m_changed.wait_until(lock, deadline, [&] { return m_fresh || m_woken; });
    m_woken = false;
    return m_fresh;
}

void PipeWireStream::wake() {
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_changed.notify_all();
}

bool PipeWireStream::takeNewest(PipeWireFrame& frame) {
    std::lock_guard lock(m_mutex);
    if (!m_fresh)
        return false;
    std::swap(frame, m_newest);
    m_fresh = false;
    return true;
}

void PipeWireStream::onFormat(std::uint32_t format, int width, int height) {
    m_pw->format = format;
    m_pw->width = width;
    m_pw->height = height;
    {
        std::lock_guard lock(m_mutex);
        m_width = width;
        m_height = height;
    }
    m_changed.notify_all();
}

void PipeWireStream::onFrame(const std::uint8_t* data, int stride, std::uint32_t format) {
    const int width = m_pw->width;
    const int height = m_pw->height;
    m_filling.width = width;
    m_filling.height = height;
    m_filling.pixels.resize(std::size_t(width) * 4 * std::size_t(height));
    std::uint8_t* out = m_filling.pixels.data();
    // libyuv's ARGB is B, G, R, A in memory and its ABGR is R, G, B, A.
    if (format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA)
        libyuv::ABGRToARGB(data, stride, out, width * 4, width, height);
    else
        libyuv::ARGBCopy(data, stride, out, width * 4, width, height);
    {
        std::lock_guard lock(m_mutex);
        std::swap(m_filling, m_newest);
        m_fresh = true;
    }
    m_changed.notify_all();
}

void PipeWireStream::onFailed(const char* reason) {
    logging::log(Level::warning, "capture", "PipeWire: %s", reason);
    {
        std::lock_guard lock(m_mutex);
        m_failed = true;
    }
    m_changed.notify_all();
}

} // namespace velmarin::capture
