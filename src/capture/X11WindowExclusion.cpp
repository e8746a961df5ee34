#include "capture/X11WindowExclusion.h"

#include "capture/XcbHandles.h"

#include <xcb/composite.h>
#include <xcb/shape.h>

#include <algorithm>
#include <cstring>

namespace velmarin::capture {

X11WindowExclusion::X11WindowExclusion(xcb_connection_t* connection, xcb_window_t root)
    : m_connection(connection)
    , m_root(root) {
    const auto* shape = xcb_get_extension_data(connection, &xcb_shape_id);
    m_hasShape = shape && shape->present;
    if (const auto* composite = xcb_get_extension_data(connection, &xcb_composite_id);
        composite && composite->present) {
        XcbReply<xcb_composite_query_version_reply_t> version(xcb_composite_query_version_reply(
            connection, xcb_composite_query_version(connection, 0, 4), nullptr));
        m_hasComposite = version != nullptr;
    }
}

X11WindowExclusion::~X11WindowExclusion() {
    redirect(false);
}

void X11WindowExclusion::redirect(bool on) {
    if (!m_hasComposite || on == m_redirected)
        return;
    if (on)
        xcb_composite_redirect_subwindows(m_connection, m_root, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    else
        xcb_composite_unredirect_subwindows(m_connection, m_root,
                                            XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    xcb_flush(m_connection);
    m_redirected = on;
}

void X11WindowExclusion::setWindows(std::vector<std::uint32_t> windowIds) {
    const std::lock_guard lock(m_mutex);
    m_windows = std::move(windowIds);
}

void X11WindowExclusion::patch(std::uint8_t* pixels, const protocol::PixelRect& area) {
    if (!m_hasShape)
        return;
    std::vector<std::uint32_t> windows;
    {
        const std::lock_guard lock(m_mutex);
        windows = m_windows;
    }
    redirect(!windows.empty());
    for (const std::uint32_t window : windows)
        patchWindow(window, pixels, area);
}

void X11WindowExclusion::patchWindow(xcb_window_t window, std::uint8_t* pixels,
                                     const protocol::PixelRect& area) {
    xcb_connection_t* c = m_connection;
    // Four questions in one round trip.
    const auto extentsCookie = xcb_shape_query_extents(c, window);
    const auto attributesCookie = xcb_get_window_attributes(c, window);
    const auto positionCookie = xcb_translate_coordinates(c, window, m_root, 0, 0);
    const auto shapeCookie = xcb_shape_get_rectangles(c, window, XCB_SHAPE_SK_BOUNDING);
    XcbReply<xcb_shape_query_extents_reply_t> extents(
        xcb_shape_query_extents_reply(c, extentsCookie, nullptr));
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, attributesCookie, nullptr));
    XcbReply<xcb_translate_coordinates_reply_t> position(
        xcb_translate_coordinates_reply(c, positionCookie, nullptr));
    XcbReply<xcb_shape_get_rectangles_reply_t> shape(
        xcb_shape_get_rectangles_reply(c, shapeCookie, nullptr));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !position || !shape ||
        !extents)
        return;

    // The part of the grab the window's shape covers (an unshaped window
    // reports its whole rectangle).
    const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(shape.get());
    const int count = xcb_shape_get_rectangles_rectangles_length(shape.get());
    int left = area.x + area.width, top = area.y + area.height, right = area.x, bottom = area.y;
    for (int i = 0; i < count; ++i) {
        const protocol::PixelRect r =
            protocol::PixelRect{position->dst_x + rects[i].x, position->dst_y + rects[i].y,
                                rects[i].width, rects[i].height}
                .intersected(area);
        if (r.isEmpty())
            continue;
        left = std::min(left, r.x);
        top = std::min(top, r.y);
        right = std::max(right, r.x + r.width);
        bottom = std::max(bottom, r.y + r.height);
    }
    if (left >= right || top >= bottom)
        return;
    const protocol::PixelRect covered{left, top, right - left, bottom - top};

    const std::size_t bytes = static_cast<std::size_t>(area.width) * area.height * 4;
    if (!m_grabber || m_grabberBytes < bytes) {
        m_grabber = std::make_unique<ShmGrabber>(c, m_root, bytes);
        m_grabberBytes = bytes;
    }
    // Emptied for the grab of what lies beneath, then restored as it was:
    // the same rectangles, or no shape for a window that had none.
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED,
                         window, 0, 0, 0, nullptr);
    const std::uint8_t* beneath = m_grabber->grab(covered);
    if (!extents->bounding_shaped)
        xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, window, 0, 0, XCB_NONE);
    else
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, shape->ordering, window, 0,
                             0, static_cast<std::uint32_t>(count), rects);
    xcb_flush(c);
    if (!beneath)
        return;
    const std::size_t rowBytes = static_cast<std::size_t>(covered.width) * 4;
    for (int row = 0; row < covered.height; ++row)
        std::memcpy(pixels + (static_cast<std::size_t>(covered.y - area.y + row) * area.width +
                              (covered.x - area.x)) *
                                 4,
                    beneath + static_cast<std::size_t>(row) * rowBytes, rowBytes);
}

} // namespace velmarin::capture
