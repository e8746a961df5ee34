#include "program/ProductInput.h"

#include "interfaces/Log.h"
#include "capture/CapturedArea.h"
#include "input/InputInjector.h"
#include "input/RemoteInputCapture.h"
#include "input/WaylandInputSink.h"
#include "input/XTestInputSink.h"
#include "transport/WebSocketManager.h"
#include "ui/viewer/RemoteDisplayBridge.h"

namespace velmarin::input {

std::unique_ptr<HostInput> makeHostInput(std::shared_ptr<const capture::CapturedArea> area) {
    auto opened = XTestInputSink::open();
    if (!opened) {
        qCInfo(Log::input, "Remote input unavailable: %s",
               qPrintable(opened.error().description()));
        return nullptr;
    }
    auto provider = [area]() -> std::optional<protocol::PixelRect> {
        return area ? area->get() : std::nullopt;
    };
    return std::make_unique<InputInjector>(
        std::move(*opened), std::move(provider));
}

std::unique_ptr<HostInput>
makeWaylandHostInput(std::shared_ptr<wayland::RemoteDesktopSession> session,
                     std::shared_ptr<const capture::CapturedArea> area) {
    if (!session) {
        qCInfo(Log::input, "Remote input unavailable: %s", "no Wayland remote-desktop session");
        return nullptr;
    }
    auto provider = [area]() -> std::optional<protocol::PixelRect> {
        return area ? area->get() : std::nullopt;
    };
    // The sink works in the cast monitor's pixels, which start at its corner.
    auto monitor = [area]() -> protocol::PixelRect {
        const auto rect = area ? area->get() : std::nullopt;
        return rect ? *rect : protocol::PixelRect{};
    };
    return std::make_unique<InputInjector>(
        std::make_unique<WaylandInputSink>(std::move(session), std::move(monitor)),
        std::move(provider));
}

std::unique_ptr<ViewerInput> makeViewerInput(transport::WebSocketManager& webSocket,
                                             std::function<QSizeF()> hostScreenSize,
                                             ui::RemoteDisplayBridge& bridge) {
    using Kind = RemoteInputCapture::MessageKind;
    auto send = [&webSocket](std::string json, Kind kind) {
        webSocket.sendText(std::move(json), [kind](transport::WebSocketResult result) {
            if (result || kind == Kind::modifierRelease)
                return;
            qCCritical(Log::network,
                       kind == Kind::mouse ? "Mouse send failed: %s" : "Key send failed: %s",
                       result.error().description().c_str());
        });
    };
    auto install = [&bridge](RemoteInputCapture::MouseHandler mouse,
                             RemoteInputCapture::KeyHandler key) {
        bridge.onMouseEvent = std::move(mouse);
        bridge.onKeyEvent = std::move(key);
    };
    return std::make_unique<RemoteInputCapture>(std::move(send), std::move(hostScreenSize),
                                                std::move(install));
}

} // namespace velmarin::input
