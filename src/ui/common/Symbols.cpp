#include "ui/common/Symbols.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

// The symbols live in a static library: its resources must be registered
// by hand, once, before the first lookup.
static void registerSymbols() {
    Q_INIT_RESOURCE(symbols);
}

namespace velmarin::ui {

namespace {

struct SymbolSource {
    const char* file;      // under :/symbols/
    const char* themeName; // freedesktop icon name; empty where none fits
};

SymbolSource source(Symbol symbol) {
    switch (symbol) {
    case Symbol::share: return {"share", ""};
    case Symbol::link: return {"link", "insert-link"};
    case Symbol::desktop: return {"desktop", "computer"};
    case Symbol::warning: return {"warning", ""};
    case Symbol::refresh: return {"refresh", "view-refresh"};
    case Symbol::copy: return {"copy", "edit-copy"};
    case Symbol::lockClosed: return {"lock-closed", "changes-prevent"};
    case Symbol::lockOpen: return {"lock-open", "changes-allow"};
    case Symbol::playCircle: return {"play-circle", ""};
    case Symbol::power: return {"power", "system-shutdown"};
    case Symbol::play: return {"play", "media-playback-start"};
    case Symbol::stop: return {"stop", "media-playback-stop"};
    case Symbol::chat: return {"chat", ""};
    case Symbol::closeCircle: return {"close-circle", ""};
    case Symbol::checkCircle: return {"check-circle", ""};
    case Symbol::menu: return {"menu", "open-menu"};
    case Symbol::logo: return {"logo", ""};
    case Symbol::plus: return {"plus", "list-add"};
    case Symbol::xmark: return {"xmark", "window-close"};
    case Symbol::pencil: return {"pencil", "document-edit"};
    case Symbol::trash: return {"trash", "edit-delete"};
    case Symbol::eye: return {"eye", ""};
    case Symbol::eyeSlash: return {"eye-slash", ""};
    case Symbol::chats: return {"chats", ""};
    case Symbol::send: return {"send", ""};
    case Symbol::monitor: return {"monitor", "video-display"};
    case Symbol::laser: return {"laser", ""};
    case Symbol::penTip: return {"pen-tip", ""};
    case Symbol::spotlight: return {"spotlight", ""};
    case Symbol::keyboard: return {"keyboard", "input-keyboard"};
    case Symbol::info: return {"info-circle", ""};
    case Symbol::gauge: return {"gauge", ""};
    case Symbol::record: return {"record", ""};
    case Symbol::recordStop: return {"record-stop", ""};
    case Symbol::fullScreen: return {"fullscreen", "view-fullscreen"};
    case Symbol::document: return {"document", ""};
    case Symbol::documentDrop: return {"document-download", ""};
    }
    return {"logo", ""};
}

// Draws the bundled SVG with its black parts in the asked colour (white
// details such as a check mark stay white). Each size, mode and colour is
// rendered once: buttons repaint on every hover.
class SymbolEngine final : public QIconEngine {
public:
    SymbolEngine(QByteArray svg, QColor color)
        : m_svg(std::move(svg))
        , m_color(color) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, scale));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        const QColor color = colorFor(mode);
        const QString key = QStringLiteral("%1x%2 %3").arg(size.width()).arg(size.height()).arg(color.name());
        if (const auto cached = m_cache.constFind(key); cached != m_cache.constEnd())
            return *cached;
        // Unpainted shapes are black by default: give them the colour too.
        QByteArray svg = m_svg;
        svg.replace("viewBox=\"0 0 24 24\">", "viewBox=\"0 0 24 24\"><g fill=\"#000\">");
        svg.replace("</svg>", "</g></svg>");
        svg.replace("#000", color.name().toLatin1());
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        QSvgRenderer(svg).render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
        painter.end();
        m_cache.insert(key, pixmap);
        return pixmap;
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap result = pixmap(size * scale, mode, state);
        result.setDevicePixelRatio(scale);
        return result;
    }

    QIconEngine* clone() const override { return new SymbolEngine(m_svg, m_color); }

private:
    QColor colorFor(QIcon::Mode mode) const {
        const QPalette palette = QApplication::palette();
        if (mode == QIcon::Disabled)
            return palette.color(QPalette::Disabled, QPalette::WindowText);
        return m_color.isValid() ? m_color : palette.color(QPalette::WindowText);
    }

    QByteArray m_svg;
    QColor m_color;
    QHash<QString, QPixmap> m_cache;
};

QByteArray bundledSvg(Symbol symbol) {
    static const bool registered = (registerSymbols(), true);
    Q_UNUSED(registered);
    QFile file(QStringLiteral(":/symbols/%1.svg").arg(QLatin1String(source(symbol).file)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QIcon bundledSymbolIcon(Symbol symbol, const QColor& color) {
    return QIcon(new SymbolEngine(bundledSvg(symbol), color));
}

QIcon symbolIcon(Symbol symbol, const QColor& color) {
    const QString themeName = QLatin1String(source(symbol).themeName);
    if (!color.isValid() && !themeName.isEmpty() && QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    return bundledSymbolIcon(symbol, color);
}

} // namespace velmarin::ui
