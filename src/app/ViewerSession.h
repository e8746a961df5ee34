#pragma once

// One viewing session: from "connect" to "disconnect". It owns what exists
// only while this side watches a Host: the decoder, the capture of local
// input over the picture, the answer to the relay's challenge, the Host's
// screen size and monitor choice, and the ping. Destroying it is the
// teardown; stop() says goodbye to the relay first.
//
// GUI thread only, except the decoder's output (the decode thread), which
// only touches the display, the recorder and the frame counter.

#include "app/SessionContext.h"
#include "video/H264Decoder.h"

#include <QObject>
#include <QSizeF>

#include <atomic>
#include <memory>

namespace velmarin {

class ViewerSession : public QObject {
    Q_OBJECT

public:
    // `decodedFrames` counts every decoded picture, across sessions.
    ViewerSession(SessionContext context,
                  std::shared_ptr<std::atomic<std::uint64_t>> decodedFrames,
                  QObject* parent = nullptr);
    ~ViewerSession() override;

    // Connects and asks the relay for the Host in the state's remote ID.
    QCoro::Task<void> start();
    QCoro::Task<void> stop();

    // What the relay and the Host send this Viewer.
    void answerChallenge(const std::string& nonce);
    void decode(const std::vector<std::uint8_t>& frame);
    void setHostScreen(const protocol::ScreenInfoMessage& message);
    void storeMonitorList(const std::vector<protocol::MonitorInfo>& monitors);

    QCoro::Task<void> selectRemoteMonitor(std::int64_t monitorId);

    // The host screen size input is mapped to.
    QSizeF hostScreenSize() const { return m_hostScreenSize; }

private:
    // Ends recording, input, decoding and the display's session; once.
    void tearDown();

    SessionContext m_context;
    transport::WebSocketManager& m_webSocket;
    ConnectionState& m_state;
    // The password of this attempt: editing the field later changes nothing.
    std::string m_password;
    QSizeF m_hostScreenSize{1920, 1080};
    std::unique_ptr<ViewerInput> m_input;
    TaskSlot m_pingTask;
    // Last: its thread calls into the display and recorder.
    std::unique_ptr<video::H264Decoder> m_decoder;
};

} // namespace velmarin
