#include "support/host/DesktopProcess.h"

#include "support/Shell.h"

#include <QDir>
#include <QFile>
#include <xcb/xcb.h>

#include <cstdlib>
#include <map>
#include <memory>

namespace velmarin::testing {

DesktopProcess::DesktopProcess(const XvfbProcess& x, const RelayProcess& relay, const QString& dir,
                               bool sessionBus, const QStringList& arguments)
    : m_x(x)
    , m_home(dir + QStringLiteral("/home"))
    , m_environment(velmarinEnvironment(x.display(), relay, dir + QStringLiteral("/config"))) {
    const QString runtime = dir + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QDir().mkpath(downloads());
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_environment.insert("HOME", m_home);
    m_environment.insert("XDG_RUNTIME_DIR", runtime);
    if (!sessionBus)
        m_environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir + "/no-bus");
    m_environment.insert("QT_QPA_PLATFORM", "xcb");
    m_environment.insert("QT_LOGGING_RULES", "com.tessamund.velmarin.network.info=true");
    m_process.setProcessEnvironment(m_environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral(VELMARIN_BINARY), arguments);
}

bool DesktopProcess::waitForWindow() {
    return m_x.run("timeout 20 xdotool search --sync --onlyvisible --name '^Velmarin$' "
                   ">/dev/null") == 0;
}

QRect DesktopProcess::windowFrame() const {
    QProcess xdotool;
    xdotool.setProcessEnvironment(m_environment);
    xdotool.start("sh", {"-c", "xdotool search --onlyvisible --name '^Velmarin$' "
                               "getwindowgeometry --shell | head -n 5"});
    xdotool.waitForFinished(5'000);
    std::map<QByteArray, int> values; // X=, Y=, WIDTH=, HEIGHT=
    for (const QByteArray& line : xdotool.readAllStandardOutput().split('\n'))
        values[line.left(line.indexOf('='))] = line.mid(line.indexOf('=') + 1).toInt();
    return {values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]};
}

bool DesktopProcess::click(QPoint at) const {
    return m_x.run("xdotool search --onlyvisible --name '^Velmarin$' mousemove --window %1 " +
                   std::to_string(at.x()) + " " + std::to_string(at.y()) + " click 1") == 0;
}

bool DesktopProcess::type(const QString& text) const {
    return m_x.run("xdotool type --delay 20 " + shellQuoted(text.toStdString())) == 0;
}

bool DesktopProcess::key(const QString& name) const {
    return m_x.run("xdotool key " + shellQuoted(name.toStdString())) == 0;
}

QImage screenImage(const XvfbProcess& x, const QRect& area) {
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c(
        xcb_connect(x.display().c_str(), nullptr), &xcb_disconnect);
    if (xcb_connection_has_error(c.get()))
        return {};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data->root;
    std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
        xcb_get_image_reply(c.get(),
                            xcb_get_image(c.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, root,
                                          static_cast<std::int16_t>(area.x()),
                                          static_cast<std::int16_t>(area.y()),
                                          static_cast<std::uint16_t>(area.width()),
                                          static_cast<std::uint16_t>(area.height()), ~0u),
                            nullptr),
        &std::free);
    if (!image)
        return {};
    return QImage(xcb_get_image_data(image.get()), area.width(), area.height(), area.width() * 4,
                  QImage::Format_RGB32)
        .copy();
}

QString clipboardText(const QProcessEnvironment& environment) {
    QProcess xclip;
    xclip.setProcessEnvironment(environment);
    xclip.start("xclip", {"-selection", "clipboard", "-o"});
    if (!xclip.waitForFinished(5'000) || xclip.exitCode() != 0)
        return {};
    return QString::fromUtf8(xclip.readAllStandardOutput()).trimmed();
}

} // namespace velmarin::testing
