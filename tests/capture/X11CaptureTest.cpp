// Screen capture of a real X server: what is drawn must come out of the
// decoder, monitors must be listed and switchable, an unchanged screen must
// cost no frames, and key frames must come on request.

#include "capture/CaptureAccess.h"
#include "capture/ScreenCaptureManager.h"
#include "capture/X11ScreenSource.h"
#include "support/capture/CaptureProbe.h"
#include "support/capture/X11Painter.h"
#include "support/x11/XvfbProcess.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace velmarin;
using namespace velmarin::capture;
using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kRed = 0xff0000, kGreen = 0x00ff00, kBlue = 0x0000ff, kWhite = 0xffffff,
                        kGrey = 0x404040;

// The frame count once no frame arrived for `quiet`: the encoder may still
// be finishing pictures of earlier changes, later on a busy machine.
std::size_t settledFrameCount(const CaptureProbe& probe, std::chrono::milliseconds quiet = 400ms) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    std::size_t count = probe.frameCount();
    auto since = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        const std::size_t now = probe.frameCount();
        if (now != count) {
            count = now;
            since = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - since >= quiet) {
            break;
        }
    }
    return count;
}

// The permissions of the shared-memory segments this process created.
std::vector<unsigned> ownSegments() {
    std::ifstream table("/proc/sysvipc/shm");
    std::string line;
    std::getline(table, line); // header
    std::vector<unsigned> result;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        long key = 0, id = 0;
        unsigned perms = 0;
        unsigned long size = 0;
        int cpid = 0;
        fields >> key >> id >> std::oct >> perms >> std::dec >> size >> cpid;
        if (cpid == getpid())
            result.push_back(perms & 0777);
    }
    return result;
}

} // namespace

TEST(X11Capture, PictureShowsWhatIsDrawnAndAStillScreenCostsOnlyRequestedKeyframes) {
    XvfbProcess x(1920, 1080);
    X11Painter painter(x.display());
    painter.fill(0, 0, 1920, 1080, kGrey);
    painter.fill(100, 100, 400, 300, kRed);
    painter.fill(1400, 100, 400, 300, kGreen);
    painter.fill(100, 700, 400, 300, kBlue);
    painter.fill(1400, 700, 400, 300, kWhite);
    painter.movePointer(1600, 850); // over the white block

    EXPECT_TRUE(checkCaptureAccess(x.display()));
    ScreenCaptureManager manager(captureOptionsOn(x.display()));
    CaptureProbe probe(manager);
    ASSERT_TRUE(manager.startCapture());
    ASSERT_TRUE(probe.waitForKeyframeAfter(0));

    const auto picture = probe.latestPicture();
    ASSERT_EQ(picture.width(), 1920);
    ASSERT_EQ(picture.height(), 1080);
    EXPECT_TRUE(near(colourAt(picture, 300, 250), kRed));
    EXPECT_TRUE(near(colourAt(picture, 1600, 250), kGreen));
    EXPECT_TRUE(near(colourAt(picture, 300, 850), kBlue));
    EXPECT_TRUE(near(colourAt(picture, 1500, 950), kWhite));
    EXPECT_TRUE(near(colourAt(picture, 960, 540), kGrey));
    // The pointer (a black and white X) is drawn in around its hot spot.
    int dark = 0;
    for (int dy = -8; dy <= 8; ++dy)
        for (int dx = -8; dx <= 8; ++dx)
            dark += colourAt(picture, 1600 + dx, 850 + dy).r < 100;
    EXPECT_GT(dark, 5);

    // One display, the whole screen, as the primary "Scherm 1".
    const auto monitors = manager.monitors();
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_EQ(monitors[0].name, "Scherm 1");
    EXPECT_TRUE(monitors[0].primary);
    EXPECT_EQ(manager.screenInfo(), (CapturedScreen{1920, 1080, 1.0, 1920, 1080}));

    // The grab memory is private to us and the server.
    EXPECT_EQ(ownSegments(), std::vector<unsigned>{0600});

    const std::size_t settled = settledFrameCount(probe);
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(probe.frameCount(), settled) << "an unchanged screen produced frames";

    // A key frame request repeats the last picture, once.
    const std::size_t keyframes = probe.keyframeCount();
    manager.forceNextKeyframe();
    ASSERT_TRUE(probe.waitForKeyframeAfter(settled, 2s));
    EXPECT_EQ(probe.keyframeCount(), keyframes + 1);
    EXPECT_TRUE(near(colourAt(probe.latestPicture(), 960, 540), kGrey));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(probe.frameCount(), settled + 1);

    // Only the pointer moves: that is a change too.
    painter.movePointer(400, 300);
    ASSERT_TRUE(probe.waitForFrames(settled + 1));

    // Drawing as fast as possible is captured at no more than 10 per second.
    manager.updateQuality(1'000'000, 10);
    EXPECT_EQ(manager.targetFPS(), 10);
    const std::size_t start = settledFrameCount(probe);
    const auto until = std::chrono::steady_clock::now() + 1s;
    for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
        painter.fill(200, 200, 300, 300, (i % 2) ? kRed : kGreen);
        std::this_thread::sleep_for(5ms);
    }
    const std::size_t produced = probe.frameCount() - start;
    EXPECT_GE(produced, 3u);
    EXPECT_LE(produced, 12u);

    // The grab memory is gone afterwards.
    manager.stopCapture();
    EXPECT_TRUE(ownSegments().empty());
    EXPECT_FALSE(manager.isCapturing());
}

TEST(X11Capture, SecondMonitorIsListedAndSelectableAndATallOneIsScaledDown) {
    // The right monitor is 1920 x 1200: grey above, blue in its lower half.
    XvfbProcess x(3840, 1200);
    X11Painter painter(x.display());
    painter.fill(0, 0, 1920, 1200, kRed);
    painter.fill(1920, 0, 1920, 1200, kGrey);
    painter.fill(1920, 600, 1920, 600, kBlue);
    painter.movePointer(5, 5);
    painter.setMonitor("LEFT", 0, 0, 1920, 1080, true);
    painter.setMonitor("RIGHT", 1920, 0, 1920, 1200, false);

    ScreenCaptureManager manager(captureOptionsOn(x.display()));
    CaptureProbe probe(manager);
    ASSERT_TRUE(manager.startCapture());
    const auto monitors = manager.monitors();
    // Xvfb keeps its whole-screen monitor beside the two defined ones.
    ASSERT_GE(monitors.size(), 2u);
    std::int64_t rightId = 0;
    int primaries = 0;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        EXPECT_EQ(monitors[i].name, "Scherm " + std::to_string(i + 1));
        primaries += monitors[i].primary;
        if (monitors[i].x == 1920 && monitors[i].height == 1200)
            rightId = monitors[i].id;
    }
    EXPECT_EQ(primaries, 1);
    ASSERT_NE(rightId, 0);

    // The primary (left) one is captured first.
    ASSERT_TRUE(probe.waitForKeyframeAfter(0));
    EXPECT_TRUE(near(colourAt(probe.latestPicture(), 960, 540), kRed));
    EXPECT_EQ(manager.screenInfo()->width, 1920);

    // Unknown IDs change nothing.
    manager.selectMonitor(987654);
    EXPECT_EQ(manager.currentDisplay()->frame.x, 0);

    // The right one fits 1080 lines as 1728 x 1080, scaled, not cropped.
    const std::size_t before = probe.frameCount();
    manager.selectMonitor(rightId);
    EXPECT_EQ(manager.currentDisplay()->id, rightId);
    ASSERT_TRUE(probe.waitForKeyframeAfter(before));
    const auto picture = probe.latestPicture();
    ASSERT_EQ(picture.width(), 1728);
    ASSERT_EQ(picture.height(), 1080);
    EXPECT_TRUE(near(colourAt(picture, 864, 500), kGrey));
    EXPECT_TRUE(near(colourAt(picture, 864, 580), kBlue));
    EXPECT_EQ(manager.screenInfo(), (CapturedScreen{1920, 1200, 1.0, 1728, 1080}));

    // That IDs stay when the list is read again is HostScreenCapture's test.
}

TEST(X11Capture, ScaleFactorFollowsTheScreenDpiAndXftDpi) {
    const auto scaleOf = [](const XvfbProcess& x) {
        auto source = X11ScreenSource::open(x.display());
        EXPECT_TRUE(source);
        auto displays = (*source)->displays();
        EXPECT_FALSE(displays.empty());
        return displays.empty() ? 0.0 : displays.front().scaleFactor;
    };
    // From the screen's DPI (Xvfb's outputs claim 96 whatever -dpi says), rounded to
    // the scales desktops offer (1 at 96 is the first test's).
    EXPECT_EQ(scaleOf(XvfbProcess(1920, 1080, 24, 120)), 1.25);
    EXPECT_EQ(scaleOf(XvfbProcess(1920, 1080, 24, 150)), 1.5);
    XvfbProcess x(3840, 2160, 24, 192);
    EXPECT_EQ(scaleOf(x), 2.0);

    // The desktop's Xft.dpi, as xrdb leaves it, wins over the size.
    ASSERT_EQ(x.run(R"sh(xprop -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER )sh"
                    R"sh("$(printf 'Xft.antialias:\t1\nXft.dpi:\t144\nXft.rgba:\trgb')")sh"),
              0);
    EXPECT_EQ(scaleOf(x), 1.5);
}

TEST(X11Capture, UnreachableDisplayIsReportedInDutch) {
    const auto access = checkCaptureAccess(":4093");
    ASSERT_FALSE(access);
    EXPECT_EQ(access.error(), CaptureError{CaptureError::Kind::captureNotAvailable});
    ScreenCaptureManager manager(captureOptionsOn(":4093"));
    const auto started = manager.startCapture();
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().description(), "Schermopname niet beschikbaar");
    EXPECT_FALSE(manager.isCapturing());
    EXPECT_TRUE(manager.monitors().empty());
    // Quality changes before a start only store the bitrate.
    manager.updateQuality(500'000, 15);
    EXPECT_EQ(manager.targetFPS(), 30);
}

// The annotation overlay over bare desktop: the grab shows the wallpaper the
// desktop publishes, not the overlay.
TEST(X11Capture, AnExcludedWindowOverTheBareDesktopShowsTheWallpaper) {
    XvfbProcess x(640, 480);
    xcb_connection_t* c = xcb_connect(x.display().c_str(), nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const auto filled = [&](xcb_drawable_t drawable, std::uint32_t rgb, std::uint16_t width,
                            std::uint16_t height) {
        const xcb_gcontext_t gc = xcb_generate_id(c);
        xcb_create_gc(c, gc, drawable, XCB_GC_FOREGROUND, &rgb);
        const xcb_rectangle_t all{0, 0, width, height};
        xcb_poly_fill_rectangle(c, drawable, gc, 1, &all);
        xcb_free_gc(c, gc);
    };
    const xcb_pixmap_t wallpaper = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, wallpaper, screen->root, 640, 480);
    filled(wallpaper, 0x0000ff, 640, 480);
    const char name[] = "_XROOTPMAP_ID";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, screen->root, atom->atom, XCB_ATOM_PIXMAP, 32, 1,
                        &wallpaper);
    free(atom);
    const xcb_window_t overlay = xcb_generate_id(c);
    const std::uint32_t overrideRedirect = 1;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, overlay, screen->root, 100, 100, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT,
                      &overrideRedirect);
    xcb_map_window(c, overlay);
    filled(overlay, 0xff0000, 200, 100);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    auto source = X11ScreenSource::open(x.display());
    ASSERT_TRUE(source);
    const auto displays = (*source)->displays();
    ASSERT_FALSE(displays.empty());
    ASSERT_TRUE((*source)->start(displays.front()));
    (*source)->setExcludedWindows({overlay});
    // The redirection starts with the first grab; the overlay repaints then.
    ASSERT_TRUE((*source)->grab());
    filled(overlay, 0xff0000, 200, 100);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    const auto grabbed = (*source)->grab();
    ASSERT_TRUE(grabbed);
    const std::uint8_t* pixel = grabbed->data + 150 * grabbed->stride + 200 * 4; // B, G, R
    EXPECT_GT(pixel[0], 200) << "the overlay's red stayed in the picture";
    EXPECT_LT(pixel[2], 50);
    xcb_disconnect(c);
}
