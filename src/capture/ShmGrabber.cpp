#include "capture/ShmGrabber.h"

#include "log/LogSink.h"

#include <cstdlib>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace velmarin::capture {

ShmGrabber::ShmGrabber(xcb_connection_t* connection, xcb_window_t root, std::size_t maxBytes)
    : m_connection(connection)
    , m_root(root) {
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(connection, &xcb_shm_id);
    if (shm && shm->present && attach(maxBytes))
        return;
    logging::log(logging::Level::warning, "capture",
                 "MIT-SHM not usable, grabbing through GetImage (slower)");
}

bool ShmGrabber::attach(std::size_t bytes) {
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0)
        return false;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const xcb_shm_seg_t segment = xcb_generate_id(m_connection);
    XcbReply<xcb_generic_error_t> error(
        xcb_request_check(m_connection, xcb_shm_attach_checked(m_connection, segment,
                                                               static_cast<std::uint32_t>(id), 0)));
    // Once both sides are attached the segment can be marked for removal: it
    // lives on until the last detach, and no one else can attach it anymore.
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        shmdt(address);
        return false;
    }
    m_segment = segment;
    m_shared = static_cast<std::uint8_t*>(address);
    m_sharedBytes = bytes;
    return true;
}

ShmGrabber::~ShmGrabber() {
    if (!m_segment)
        return;
    // Waited for: once it returns the server holds the memory no longer, and
    // with our own detach the segment is gone.
    std::free(xcb_request_check(m_connection, xcb_shm_detach_checked(m_connection, m_segment)));
    shmdt(m_shared);
}

std::uint8_t* ShmGrabber::grab(const protocol::PixelRect& rect) {
    return grab(rect, m_root);
}

std::uint8_t* ShmGrabber::grab(const protocol::PixelRect& rect, xcb_drawable_t drawable) {
    const auto bytes = static_cast<std::size_t>(rect.width) * rect.height * 4;
    if (m_segment && bytes <= m_sharedBytes) {
        XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
            m_connection,
            xcb_shm_get_image(m_connection, drawable, static_cast<std::int16_t>(rect.x),
                              static_cast<std::int16_t>(rect.y),
                              static_cast<std::uint16_t>(rect.width),
                              static_cast<std::uint16_t>(rect.height), ~0u,
                              XCB_IMAGE_FORMAT_Z_PIXMAP, m_segment, 0),
            nullptr));
        return reply ? m_shared : nullptr;
    }
    XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
        m_connection,
        xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable,
                      static_cast<std::int16_t>(rect.x), static_cast<std::int16_t>(rect.y),
                      static_cast<std::uint16_t>(rect.width),
                      static_cast<std::uint16_t>(rect.height), ~0u),
        nullptr));
    if (!reply || static_cast<std::size_t>(xcb_get_image_data_length(reply.get())) < bytes)
        return nullptr;
    m_copy.resize(bytes);
    std::memcpy(m_copy.data(), xcb_get_image_data(reply.get()), bytes);
    return m_copy.data();
}

} // namespace velmarin::capture
