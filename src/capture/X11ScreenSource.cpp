#include "capture/X11ScreenSource.h"

#include "capture/CursorComposite.h"
#include "log/LogSink.h"

#include <xcb/randr.h>
#include <xcb/shape.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <poll.h>
#include <string_view>
#include <sys/eventfd.h>
#include <unistd.h>

namespace velmarin::capture {
namespace {

// How far a pointer image reaches from the hot spot, for deciding whether a
// pointer move is visible in the captured rectangle.
constexpr int kPointerReach = 64;

Unexpected<CaptureError> unavailable() {
    return unexpected(CaptureError{CaptureError::Kind::captureNotAvailable});
}

// The grab code reads B, G, R, X bytes: a little-endian 32-bit pixel with
// red in the high byte, which every usual X server uses at depth 24 and 32.
bool hasReadablePixels(const xcb_setup_t* setup, const xcb_screen_t* screen) {
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    if (screen->root_depth != 24 && screen->root_depth != 32)
        return false;
    bool bits32 = false;
    for (auto format = xcb_setup_pixmap_formats_iterator(setup); format.rem;
         xcb_format_next(&format))
        if (format.data->depth == screen->root_depth)
            bits32 = format.data->bits_per_pixel == 32;
    if (!bits32)
        return false;
    for (auto depth = xcb_screen_allowed_depths_iterator(screen); depth.rem; xcb_depth_next(&depth))
        for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem;
             xcb_visualtype_next(&visual))
            if (visual.data->visual_id == screen->root_visual)
                return visual.data->red_mask == 0xff0000 && visual.data->green_mask == 0xff00 &&
                       visual.data->blue_mask == 0xff;
    return false;
}

} // namespace

Expected<std::unique_ptr<X11ScreenSource>, CaptureError>
X11ScreenSource::open(const std::string& displayName) {
    int screenNumber = 0;
    XcbConnection connection(
        xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber));
    if (xcb_connection_has_error(connection.get())) {
        logging::log(logging::Level::error, "capture", "Cannot open X display %s",
                     displayName.empty() ? "(DISPLAY)" : displayName.c_str());
        return unavailable();
    }
    const xcb_setup_t* setup = xcb_get_setup(connection.get());
    auto screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return unexpected(CaptureError{CaptureError::Kind::noDisplay});
    if (!hasReadablePixels(setup, screens.data)) {
        logging::log(logging::Level::error, "capture", "Unsupported X pixel format (depth %d)",
                     screens.data->root_depth);
        return unavailable();
    }
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0)
        return unavailable();
    std::unique_ptr<X11ScreenSource> source(
        new X11ScreenSource(std::move(connection), screens.data, wakeFd));
    source->queryExtensions();
    return source;
}

X11ScreenSource::X11ScreenSource(XcbConnection connection, xcb_screen_t* screen, int wakeFd)
    : m_connection(std::move(connection))
    , m_root(screen->root)
    , m_screenWidthMm(screen->width_in_millimeters)
    , m_wakeFd(wakeFd)
    , m_exclusion(m_connection.get(), m_root) {}

X11ScreenSource::~X11ScreenSource() {
    stop();
    ::close(m_wakeFd);
}

void X11ScreenSource::queryExtensions() {
    xcb_connection_t* c = m_connection.get();
    xcb_prefetch_extension_data(c, &xcb_shm_id);
    xcb_prefetch_extension_data(c, &xcb_randr_id);
    xcb_prefetch_extension_data(c, &xcb_xfixes_id);
    xcb_prefetch_extension_data(c, &xcb_damage_id);
    xcb_prefetch_extension_data(c, &xcb_shape_id);

    // Each extension wants its version negotiated before any other request.
    if (const auto* randr = xcb_get_extension_data(c, &xcb_randr_id); randr && randr->present) {
        XcbReply<xcb_randr_query_version_reply_t> version(
            xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        m_hasMonitors = version && (version->major_version > 1 ||
                                    (version->major_version == 1 && version->minor_version >= 5));
    }
    if (const auto* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id); xfixes && xfixes->present) {
        XcbReply<xcb_xfixes_query_version_reply_t> version(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
        m_hasXfixes = version && version->major_version >= 2;
        m_cursorEvent = xfixes->first_event + XCB_XFIXES_CURSOR_NOTIFY;
        if (m_hasXfixes)
            xcb_xfixes_select_cursor_input(c, m_root, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
    }
    if (const auto* damage = xcb_get_extension_data(c, &xcb_damage_id); damage && damage->present) {
        XcbReply<xcb_damage_query_version_reply_t> version(
            xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
        // Damage regions are XFixes regions.
        m_hasDamage = version && m_hasXfixes;
        m_damageEvent = damage->first_event + XCB_DAMAGE_NOTIFY;
    }
    if (!m_hasDamage)
        logging::log(logging::Level::warning, "capture",
                     "DAMAGE not available: every frame interval is grabbed");
    xcb_flush(c);
}

protocol::PixelRect X11ScreenSource::rootRect() {
    xcb_connection_t* c = m_connection.get();
    XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, m_root), nullptr));
    if (!geometry)
        return {};
    return {0, 0, geometry->width, geometry->height};
}

namespace {

// Desktops offer these scales; a DPI between them is meant as the nearest.
double scaleForDpi(double dpi) {
    constexpr double kScales[] = {1.0, 1.25, 1.5, 2.0};
    const double wanted = dpi / 96.0;
    if (!std::isfinite(wanted) || wanted <= 1.0)
        return 1.0;
    if (wanted > 2.0) // beyond 2, whole steps as desktops use them
        return std::round(wanted);
    return *std::min_element(std::begin(kScales), std::end(kScales), [wanted](double a, double b) {
        return std::abs(a - wanted) < std::abs(b - wanted);
    });
}

// Xft.dpi from the root window's resource database: the scale the desktop
// was set to, which overrides what the monitor's size says.
std::optional<double> resourceDpi(xcb_connection_t* c, xcb_window_t root) {
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 0, 16384),
        nullptr));
    if (!reply || reply->format != 8)
        return std::nullopt;
    const std::string_view resources(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                     xcb_get_property_value_length(reply.get()));
    constexpr std::string_view key = "Xft.dpi:";
    for (std::size_t start = 0; start < resources.size();) {
        const std::size_t end = std::min(resources.find('\n', start), resources.size());
        const std::string_view line = resources.substr(start, end - start);
        start = end + 1;
        if (line.substr(0, key.size()) != key)
            continue;
        const std::string value(line.substr(key.size()));
        char* parsedEnd = nullptr;
        const double dpi = std::strtod(value.c_str(), &parsedEnd);
        if (parsedEnd != value.c_str() && dpi > 0)
            return dpi;
    }
    return std::nullopt;
}

} // namespace

std::vector<DisplayInfo> X11ScreenSource::displays() {
    xcb_connection_t* c = m_connection.get();
    const protocol::PixelRect root = rootRect();
    if (root.isEmpty())
        return {};

    struct Found {
        xcb_atom_t key;
        protocol::PixelRect rect;
        bool primary;
        int widthMm;
    };
    std::vector<Found> found;
    if (m_hasMonitors) {
        XcbReply<xcb_randr_get_monitors_reply_t> reply(
            xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, m_root, 1), nullptr));
        if (reply) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                // A monitor reaching past the screen is captured as far as
                // the screen goes: GetImage refuses anything outside it.
                const protocol::PixelRect rect =
                    protocol::PixelRect{it.data->x, it.data->y, it.data->width, it.data->height}
                        .intersected(root);
                if (!rect.isEmpty())
                    found.push_back({it.data->name, rect, it.data->primary != 0,
                                     static_cast<int>(it.data->width_in_millimeters)});
            }
        }
    }
    if (found.empty())
        found.push_back({XCB_ATOM_NONE, root, true, m_screenWidthMm});
    // The desktop's Xft.dpi comes first. Servers give the screen 96 DPI
    // unless told otherwise (-dpi, DisplaySize, xrandr --dpi), so another
    // value was set on purpose; else each monitor's own size counts (from
    // its EDID on real hardware; Xvfb's outputs claim 96 DPI).
    const std::optional<double> desktopDpi = resourceDpi(c, m_root);
    const double screenDpi = m_screenWidthMm > 0 ? root.width * 25.4 / m_screenWidthMm : 96.0;
    const bool screenDpiSet = std::abs(screenDpi - 96.0) > 1.0;
    // Without a primary monitor the first one stands for the main display.
    if (std::none_of(found.begin(), found.end(), [](const Found& f) { return f.primary; }))
        found.front().primary = true;

    const std::lock_guard lock(m_displaysMutex);
    std::vector<DisplayInfo> result;
    bool primaryTaken = false;
    for (const Found& f : found) {
        auto [it, added] = m_ids.try_emplace(f.key, m_nextId);
        if (added)
            ++m_nextId;
        // RandR allows one primary; should a server report more, the first
        // counts.
        const bool primary = f.primary && !primaryTaken;
        primaryTaken = primaryTaken || primary;
        double dpi = 96.0;
        if (desktopDpi)
            dpi = *desktopDpi;
        else if (screenDpiSet)
            dpi = screenDpi;
        else if (f.widthMm > 0)
            dpi = f.rect.width * 25.4 / f.widthMm;
        result.push_back(DisplayInfo{.id = it->second,
                                     .frame = f.rect,
                                     .primary = primary,
                                     .scaleFactor = scaleForDpi(dpi)});
    }
    return result;
}

Expected<void, CaptureError> X11ScreenSource::start(const DisplayInfo& display) {
    stop();
    xcb_connection_t* c = m_connection.get();
    m_rect = display.frame.intersected(rootRect());
    if (m_rect.isEmpty())
        return unexpected(CaptureError{CaptureError::Kind::noDisplay});
    m_grabber = std::make_unique<ShmGrabber>(
        c, m_root, static_cast<std::size_t>(m_rect.width) * m_rect.height * 4);
    if (m_hasDamage) {
        m_damage = xcb_generate_id(c);
        xcb_damage_create(c, m_damage, m_root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        m_damageRegion = xcb_generate_id(c);
        xcb_xfixes_create_region(c, m_damageRegion, 0, nullptr);
    }
    xcb_flush(c);
    m_dirty = true; // the first grab always goes out
    m_damagePending = false;
    return {};
}

void X11ScreenSource::stop() {
    xcb_connection_t* c = m_connection.get();
    if (m_damage)
        xcb_damage_destroy(c, m_damage);
    if (m_damageRegion)
        xcb_xfixes_destroy_region(c, m_damageRegion);
    m_damage = 0;
    m_damageRegion = 0;
    m_grabber.reset();
    xcb_flush(c);
}

void X11ScreenSource::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
}

void X11ScreenSource::readEvents(bool queuedOnly) {
    xcb_connection_t* c = m_connection.get();
    for (;;) {
        XcbReply<xcb_generic_event_t> event(queuedOnly ? xcb_poll_for_queued_event(c)
                                                       : xcb_poll_for_event(c));
        if (!event)
            return;
        const std::uint8_t type = event->response_type & 0x7f;
        if (m_hasDamage && type == m_damageEvent)
            m_damagePending = true;
        else if (m_hasXfixes && type == m_cursorEvent)
            m_dirty = true; // the pointer's shape changed
    }
}

bool X11ScreenSource::damageInsideCapture() {
    xcb_connection_t* c = m_connection.get();
    // Taking the damage region also re-arms the notification.
    xcb_damage_subtract(c, m_damage, XCB_NONE, m_damageRegion);
    XcbReply<xcb_xfixes_fetch_region_reply_t> region(
        xcb_xfixes_fetch_region_reply(c, xcb_xfixes_fetch_region(c, m_damageRegion), nullptr));
    if (!region)
        return true;
    const xcb_rectangle_t* rects = xcb_xfixes_fetch_region_rectangles(region.get());
    const int count = xcb_xfixes_fetch_region_rectangles_length(region.get());
    for (int i = 0; i < count; ++i)
        if (m_rect.intersects({rects[i].x, rects[i].y, rects[i].width, rects[i].height}))
            return true;
    return false;
}

bool X11ScreenSource::pointerMovedOverCapture() {
    xcb_connection_t* c = m_connection.get();
    XcbReply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, m_root), nullptr));
    if (!pointer || (pointer->root_x == m_pointerX && pointer->root_y == m_pointerY))
        return false;
    const protocol::PixelRect reach{m_rect.x - kPointerReach, m_rect.y - kPointerReach,
                                    m_rect.width + 2 * kPointerReach,
                                    m_rect.height + 2 * kPointerReach};
    const auto inside = [&](int x, int y) { return reach.intersects({x, y, 1, 1}); };
    return inside(pointer->root_x, pointer->root_y) || inside(m_pointerX, m_pointerY);
}

bool X11ScreenSource::waitForChange(std::chrono::steady_clock::time_point deadline) {
    if (!m_grabber)
        return false;
    xcb_connection_t* c = m_connection.get();
    for (;;) {
        // A lost server counts as a change: the grab that follows reports it.
        if (xcb_connection_has_error(c))
            return true;
        readEvents();
        if (m_damagePending) {
            m_damagePending = false;
            // Always taken, also when already dirty: the server reports
            // nothing new until the region is emptied.
            if (damageInsideCapture())
                m_dirty = true;
        }
        if (!m_hasDamage)
            m_dirty = true;
        if (!m_dirty && pointerMovedOverCapture())
            m_dirty = true;
        if (m_dirty)
            return true;
        // Events that came in with the replies above are queued already and
        // would not wake the poll below.
        readEvents(true);
        if (m_damagePending || m_dirty)
            continue;
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return false;
        pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        if (::poll(fds, 2, static_cast<int>(ms)) < 0 && errno != EINTR)
            return false;
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(m_wakeFd, &count, sizeof count);
            readEvents();
            return m_dirty;
        }
    }
}

Expected<BgraImage, CaptureError> X11ScreenSource::grab() {
    if (!m_grabber)
        return unavailable();
    // Cleared first: damage during the grab makes the next one.
    m_dirty = false;
    std::uint8_t* pixels = m_grabber->grab(m_rect);
    if (!pixels) {
        m_dirty = true; // try again next time, changed or not
        return unavailable();
    }
    m_exclusion.patch(pixels, m_rect);
    drawPointer(pixels);
    return BgraImage{pixels, m_rect.width, m_rect.height, m_rect.width * 4};
}

void X11ScreenSource::drawPointer(std::uint8_t* pixels) {
    if (!m_hasXfixes)
        return;
    xcb_connection_t* c = m_connection.get();
    XcbReply<xcb_xfixes_get_cursor_image_reply_t> cursor(
        xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr));
    if (!cursor)
        return;
    m_pointerX = cursor->x;
    m_pointerY = cursor->y;
    compositeCursor(pixels, m_rect.width, m_rect.height, m_rect.width * 4,
                    xcb_xfixes_get_cursor_image_cursor_image(cursor.get()), cursor->width,
                    cursor->height, cursor->x - cursor->xhot - m_rect.x,
                    cursor->y - cursor->yhot - m_rect.y);
}

void X11ScreenSource::setExcludedWindows(std::vector<std::uint32_t> windowIds) {
    if (!windowIds.empty() && !m_exclusion.available())
        logging::log(logging::Level::warning, "capture",
                     "SHAPE not available: %zu excluded window(s) stay in the picture",
                     windowIds.size());
    m_exclusion.setWindows(std::move(windowIds));
}

Expected<std::unique_ptr<ScreenSource>, CaptureError> makeScreenSource() {
    auto source = X11ScreenSource::open();
    if (!source)
        return unexpected(source.error());
    return std::unique_ptr<ScreenSource>(std::move(*source));
}

} // namespace velmarin::capture
