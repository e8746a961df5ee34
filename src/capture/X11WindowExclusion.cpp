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
    static constexpr char kWallpaper[] = "_XROOTPMAP_ID";
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof kWallpaper - 1, kWallpaper), nullptr));
    if (atom)
        m_wallpaperAtom = atom->atom;
}

X11WindowExclusion::~X11WindowExclusion() {
    redirect(false);
}

void X11WindowExclusion::setWindows(std::vector<std::uint32_t> windowIds) {
    const std::lock_guard lock(m_mutex);
    m_windows = std::move(windowIds);
}

void X11WindowExclusion::redirect(bool on) {
    if (!m_hasComposite || on == m_redirected)
        return;
    if (on)
        xcb_composite_redirect_subwindows(m_connection, m_root, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    else
        xcb_composite_unredirect_subwindows(m_connection, m_root, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    xcb_flush(m_connection);
    m_redirected = on;
}

void X11WindowExclusion::patch(std::uint8_t* pixels, const protocol::PixelRect& area) {
    if (!m_hasComposite)
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

namespace {

struct Placed {
    xcb_window_t window;
    protocol::PixelRect rect; // inside the border, root coordinates
};

} // namespace

void X11WindowExclusion::patchWindow(xcb_window_t window, std::uint8_t* pixels,
                                     const protocol::PixelRect& area) {
    xcb_connection_t* c = m_connection;
    // The overlay's place, shape and the stacking order in one round trip.
    const auto treeCookie = xcb_query_tree(c, m_root);
    const auto attributesCookie = xcb_get_window_attributes(c, window);
    const auto geometryCookie = xcb_get_geometry(c, window);
    const auto shapeCookie = m_hasShape ? xcb_shape_get_rectangles(c, window, XCB_SHAPE_SK_BOUNDING)
                                        : xcb_shape_get_rectangles_cookie_t{0};
    // The desktop's wallpaper, where the desktop publishes it (most do, for
    // programs that draw on it).
    const auto wallpaperCookie =
        xcb_get_property(c, 0, m_root, m_wallpaperAtom, XCB_ATOM_PIXMAP, 0, 1);
    XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, treeCookie, nullptr));
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, attributesCookie, nullptr));
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    XcbReply<xcb_shape_get_rectangles_reply_t> shape(
        m_hasShape ? xcb_shape_get_rectangles_reply(c, shapeCookie, nullptr) : nullptr);
    XcbReply<xcb_get_property_reply_t> wallpaper(
        xcb_get_property_reply(c, wallpaperCookie, nullptr));
    if (!tree || !attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !geometry)
        return;

    // The part of the grab the window's shape covers (an unshaped window
    // reports its whole rectangle).
    const protocol::PixelRect whole{geometry->x + geometry->border_width,
                                    geometry->y + geometry->border_width, geometry->width,
                                    geometry->height};
    protocol::PixelRect covered = whole.intersected(area);
    if (shape) {
        const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(shape.get());
        const int count = xcb_shape_get_rectangles_rectangles_length(shape.get());
        int left = area.x + area.width, top = area.y + area.height, right = area.x, bottom = area.y;
        for (int i = 0; i < count; ++i) {
            const protocol::PixelRect r =
                protocol::PixelRect{whole.x + rects[i].x, whole.y + rects[i].y, rects[i].width,
                                    rects[i].height}
                    .intersected(area);
            if (r.isEmpty())
                continue;
            left = std::min(left, r.x);
            top = std::min(top, r.y);
            right = std::max(right, r.x + r.width);
            bottom = std::max(bottom, r.y + r.height);
        }
        covered = left < right && top < bottom
                      ? protocol::PixelRect{left, top, right - left, bottom - top}
                      : protocol::PixelRect{};
    }
    if (covered.isEmpty())
        return;

    // The windows beneath, bottom first (the tree lists them that way).
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    const auto own = std::find(children, children + count, window);
    if (own == children + count)
        return; // not a top-level window
    std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> asked;
    for (const xcb_window_t* child = children; child != own; ++child)
        asked.emplace_back(xcb_get_window_attributes(c, *child), xcb_get_geometry(c, *child));
    std::vector<Placed> beneath;
    for (std::size_t i = 0; i < asked.size(); ++i) {
        XcbReply<xcb_get_window_attributes_reply_t> a(
            xcb_get_window_attributes_reply(c, asked[i].first, nullptr));
        XcbReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, asked[i].second, nullptr));
        if (!a || !g || a->map_state != XCB_MAP_STATE_VIEWABLE ||
            a->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT || (g->depth != 24 && g->depth != 32))
            continue;
        const protocol::PixelRect rect{g->x + g->border_width, g->y + g->border_width, g->width,
                                       g->height};
        if (rect.intersects(covered))
            beneath.push_back({children[i], rect});
    }
    // Bottom up: the wallpaper where no window covers it, then the windows.
    if (wallpaper && wallpaper->type == XCB_ATOM_PIXMAP && wallpaper->format == 32 &&
        xcb_get_property_value_length(wallpaper.get()) == 4) {
        const auto pixmap = *static_cast<const xcb_pixmap_t*>(xcb_get_property_value(wallpaper.get()));
        copyFrom(pixmap, {0, 0, area.x + area.width, area.y + area.height}, covered, pixels, area);
    }
    for (const Placed& placed : beneath)
        copyFrom(placed.window, placed.rect, placed.rect.intersected(covered), pixels, area);
}

void X11WindowExclusion::copyFrom(xcb_drawable_t drawable, const protocol::PixelRect& drawableRect,
                                  const protocol::PixelRect& part, std::uint8_t* pixels,
                                  const protocol::PixelRect& area) {
    const std::size_t bytes = static_cast<std::size_t>(area.width) * area.height * 4;
    if (!m_grabber || m_grabberBytes < bytes) {
        m_grabber = std::make_unique<ShmGrabber>(m_connection, m_root, bytes);
        m_grabberBytes = bytes;
    }
    // A redirected window's own pixels, also where others cover it.
    const std::uint8_t* source = m_grabber->grab(
        {part.x - drawableRect.x, part.y - drawableRect.y, part.width, part.height}, drawable);
    if (!source)
        return;
    const std::size_t rowBytes = static_cast<std::size_t>(part.width) * 4;
    for (int row = 0; row < part.height; ++row)
        std::memcpy(pixels + (static_cast<std::size_t>(part.y - area.y + row) * area.width +
                              (part.x - area.x)) *
                                 4,
                    source + static_cast<std::size_t>(row) * rowBytes, rowBytes);
}

} // namespace velmarin::capture
