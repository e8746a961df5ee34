#pragma once

// "Over Velmarin": a borderless, transparent window with a rounded card and
// a shadow, moved by dragging its background. One instance; showing it
// again brings it to the front.

#include <QPoint>
#include <QWidget>

namespace velmarin::ui {

struct BuildInfo {
    QString version; // "Programmaversie"
    QString build;   // "Build": the commit it was built from
};

class AboutWindow : public QWidget {
    Q_OBJECT

public:
    explicit AboutWindow(const BuildInfo& info, QWidget* parent = nullptr);

    // Brings the window to the front, centred on `screenArea` when it was
    // not visible.
    void present(const QRect& screenArea);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint m_dragOffset;
};

} // namespace velmarin::ui
