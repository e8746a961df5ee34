// A drag source for end-to-end tests: `velmarin_test_drag_source FILE X Y`
// shows a small window at (X, Y); pressing the mouse in it starts a real
// XDND drag of FILE, which xdotool then carries to the target and drops.

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class Source : public QWidget {
public:
    explicit Source(QString file)
        : m_file(std::move(file)) {
        setWindowTitle(QStringLiteral("Sleepbron"));
        setFixedSize(80, 80);
        setStyleSheet(QStringLiteral("background: #ffa500;"));
    }

protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(m_file)});
        drag->setMimeData(data);
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        std::printf("drag ended: %d\n", int(action));
        std::fflush(stdout);
    }

private:
    QString m_file;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: velmarin_test_drag_source FILE X Y\n");
        return 2;
    }
    Source source(QString::fromLocal8Bit(argv[1]));
    source.move(std::atoi(argv[2]), std::atoi(argv[3]));
    source.show();
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}
