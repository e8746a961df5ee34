#pragma once

// The one place that knows which view shows the Host's screen: it keeps the
// latest picture (to fill a view that appears later, e.g. after switching to
// full screen), the live views, and forwards the current view's input to
// input capture. GUI thread only, except `submitFrame`.

#include "ui/viewer/DisplayView.h"
#include "video/Picture.h"

#include <QObject>
#include <QRectF>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace velmarin::ui {

class RemoteDisplayBridge : public QObject {
    Q_OBJECT

public:
    explicit RemoteDisplayBridge(QObject* parent = nullptr);
    // Views that outlive the bridge stop forwarding to it.
    ~RemoteDisplayBridge() override;

    // Any thread: hands a picture to the GUI thread. Pictures that arrive
    // while one is still waiting replace it, so a busy GUI thread shows the
    // newest picture and never builds a backlog.
    void submitFrame(video::Picture picture);

    void displayFrame(const video::Picture& picture);
    void attachView(DisplayView* view);
    void detachView(DisplayView* view);
    // End of a viewing session: forgets the views and the latest picture and
    // blanks the views that are still alive.
    void reset();

    DisplayView* displayView() const { return m_displayView; }
    const std::vector<DisplayView*>& knownViews() const { return m_knownViews; }
    const video::Picture& latestFrame() const { return m_latestFrame; }

    // Set by input capture: mouse and wheel events with the view's bounds,
    // and key events. Set by file transfer: files dropped on the view.
    std::function<void(const QInputEvent& event, const QRectF& viewBounds)> onMouseEvent;
    std::function<void(const QKeyEvent& event)> onKeyEvent;
    std::function<void(const QStringList& paths)> onFilesDropped;

    // Called on the GUI thread after each picture reached the view (for
    // measuring).
    std::function<void()> onFrameDisplayed;

private:
    void takeOver(DisplayView* view);
    static void release(DisplayView* view);
    void showPending();

    DisplayView* m_displayView = nullptr;
    std::vector<DisplayView*> m_knownViews;
    video::Picture m_latestFrame;

    std::mutex m_pendingMutex;
    video::Picture m_pending;
    bool m_showScheduled = false;
};

} // namespace velmarin::ui
