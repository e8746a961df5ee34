#include "ui/viewer/RemoteDisplayBridge.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <algorithm>

namespace velmarin::ui {

RemoteDisplayBridge::RemoteDisplayBridge(QObject* parent)
    : QObject(parent) {}

RemoteDisplayBridge::~RemoteDisplayBridge() {
    for (DisplayView* view : m_knownViews)
        release(view);
}

void RemoteDisplayBridge::submitFrame(video::Picture picture) {
    {
        const std::lock_guard lock(m_pendingMutex);
        m_pending = std::move(picture);
        if (m_showScheduled)
            return;
        m_showScheduled = true;
    }
    QMetaObject::invokeMethod(this, &RemoteDisplayBridge::showPending, Qt::QueuedConnection);
}

void RemoteDisplayBridge::showPending() {
    video::Picture picture;
    {
        const std::lock_guard lock(m_pendingMutex);
        picture = std::move(m_pending);
        m_pending = {};
        m_showScheduled = false;
    }
    if (picture.isNull())
        return;
    displayFrame(picture);
    if (onFrameDisplayed)
        onFrameDisplayed();
}

void RemoteDisplayBridge::displayFrame(const video::Picture& picture) {
    m_latestFrame = picture;
    if (m_displayView)
        m_displayView->showPicture(picture);
}

void RemoteDisplayBridge::attachView(DisplayView* view) {
    if (!view)
        return;
    if (std::find(m_knownViews.begin(), m_knownViews.end(), view) == m_knownViews.end())
        m_knownViews.push_back(view);
    if (m_displayView == view)
        return;
    takeOver(view);
}

void RemoteDisplayBridge::detachView(DisplayView* view) {
    std::erase(m_knownViews, view);
    if (m_displayView != view)
        return;
    release(view);
    m_displayView = nullptr;
    if (!m_knownViews.empty())
        takeOver(m_knownViews.front());
}

void RemoteDisplayBridge::reset() {
    {
        const std::lock_guard lock(m_pendingMutex);
        m_pending = {};
    }
    for (DisplayView* view : m_knownViews) {
        release(view);
        view->showPicture({});
    }
    m_displayView = nullptr;
    m_knownViews.clear();
    m_latestFrame = {};
}

void RemoteDisplayBridge::takeOver(DisplayView* view) {
    // Only the view that shows the picture delivers input.
    if (m_displayView)
        release(m_displayView);
    m_displayView = view;
    view->onMouseEvent = [this, view](const QInputEvent& event) {
        if (!view->captureSuspended && onMouseEvent)
            onMouseEvent(event, view->viewBounds());
    };
    view->onKeyEvent = [this](const QKeyEvent& event) {
        if (onKeyEvent)
            onKeyEvent(event);
    };
    view->onFilesDropped = [this](const QStringList& paths) {
        if (onFilesDropped)
            onFilesDropped(paths);
    };
    view->showPicture(m_latestFrame);
}

void RemoteDisplayBridge::release(DisplayView* view) {
    view->onMouseEvent = {};
    view->onKeyEvent = {};
    view->onFilesDropped = {};
}

} // namespace velmarin::ui
