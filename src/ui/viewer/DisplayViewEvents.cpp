#include "ui/viewer/DisplayViewEvents.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace velmarin::ui {

namespace {

QStringList localFiles(const QMimeData* data) {
    QStringList paths;
    if (!data)
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    return paths;
}

} // namespace

void prepareDisplayWidget(QWidget& widget) {
    widget.setFocusPolicy(Qt::StrongFocus);
    widget.setMouseTracking(true);
    widget.setAcceptDrops(true);
}

void forwardMouse(DisplayView& view, QInputEvent* event) {
    if (view.onMouseEvent)
        view.onMouseEvent(*event);
    event->accept();
}

void forwardKey(DisplayView& view, QKeyEvent* event) {
    if (view.onKeyEvent)
        view.onKeyEvent(*event);
    event->accept();
}

void acceptFileDrag(QDragEnterEvent* event) {
    if (!localFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void forwardDrop(DisplayView& view, QDropEvent* event) {
    const QStringList paths = localFiles(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    if (view.onFilesDropped)
        view.onFilesDropped(paths);
}

} // namespace velmarin::ui
