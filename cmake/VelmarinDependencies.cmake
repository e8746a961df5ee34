# Every external dependency of the project, looked up once here; the
# CMakeLists.txt of src/, tests/ and bench/ only link the targets.
# scripts/install-deps installs the Debian packages behind them.

# The relay and the Qt-free libraries.
find_package(nlohmann_json 3.11 REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED COMPONENTS system)
find_package(PkgConfig REQUIRED)
pkg_check_modules(VELMARIN_FFMPEG_CODEC REQUIRED IMPORTED_TARGET libavcodec libavutil)
pkg_check_modules(VELMARIN_FFMPEG_PLAYBACK REQUIRED IMPORTED_TARGET libavformat libswscale)
pkg_check_modules(VELMARIN_XCB_CAPTURE REQUIRED IMPORTED_TARGET
  xcb xcb-shm xcb-randr xcb-xfixes xcb-damage xcb-shape xcb-composite)
pkg_check_modules(VELMARIN_XCB_XTEST REQUIRED IMPORTED_TARGET xcb xcb-xtest)
pkg_check_modules(VELMARIN_LIBSECRET REQUIRED IMPORTED_TARGET libsecret-1)
# libyuv (Debian's libyuv-dev has no pkg-config file).
find_library(VELMARIN_LIBYUV yuv REQUIRED)
find_path(VELMARIN_LIBYUV_INCLUDE libyuv.h REQUIRED)
# Wayland sessions: mutter's remote-desktop and screen-cast D-Bus API through
# GDBus, the frames through PipeWire.
pkg_check_modules(VELMARIN_GIO REQUIRED IMPORTED_TARGET gio-2.0)
pkg_check_modules(VELMARIN_PIPEWIRE REQUIRED IMPORTED_TARGET libpipewire-0.3)

# The application.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui DBus Widgets OpenGL OpenGLWidgets Concurrent Svg)
find_package(QCoro6 REQUIRED COMPONENTS Core)

# X clients of the tests and the input benchmark.
pkg_check_modules(VELMARIN_TEST_XCB REQUIRED IMPORTED_TARGET xcb xcb-keysyms xcb-randr)
if(VELMARIN_BUILD_TESTS)
  find_package(GTest REQUIRED)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
  pkg_check_modules(VELMARIN_TEST_GIO REQUIRED IMPORTED_TARGET gio-2.0)
endif()
if(VELMARIN_BUILD_BENCH)
  find_package(benchmark REQUIRED)
  pkg_check_modules(VELMARIN_BENCH_SWSCALE REQUIRED IMPORTED_TARGET libswscale libavutil)
endif()
