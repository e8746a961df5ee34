#include "ui/viewer/SystemInfoView.h"

#include "app/ConnectionState.h"
#include "ui/common/Widgets.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace velmarin::ui {

QString formatUptime(std::int64_t seconds) {
    const std::int64_t s = std::max<std::int64_t>(seconds, 0);
    const std::int64_t days = s / 86400;
    const std::int64_t hours = s % 86400 / 3600;
    const std::int64_t minutes = s % 3600 / 60;
    if (days >= 1)
        return QStringLiteral("%1d %2u").arg(days).arg(hours);
    if (hours >= 1)
        return QStringLiteral("%1u %2m").arg(hours).arg(minutes);
    return QStringLiteral("%1m").arg(minutes);
}

QString formatPercent(double value) {
    // The numbers come from the peer: keep a nonsensical one printable.
    if (!std::isfinite(value))
        value = 0;
    return QStringLiteral("%1%").arg(std::llround(std::clamp(value, -1e15, 1e15)));
}

double usageShare(std::int64_t used, std::int64_t total) {
    if (total < 1)
        return 0;
    return static_cast<double>(used) / static_cast<double>(total) * 100.0;
}

// A thin rounded bar filled to a percentage (0 … 100).
class UsageBar : public QWidget {
public:
    explicit UsageBar(QWidget* parent)
        : QWidget(parent) {
        setFixedHeight(6);
        setMinimumWidth(120);
    }
    void setPercent(double percent) {
        m_fraction = std::isfinite(percent) ? std::clamp(percent / 100.0, 0.0, 1.0) : 0.0;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const qreal radius = height() / 2.0;
        QColor track = palette().color(QPalette::Mid);
        track.setAlphaF(0.35);
        painter.setBrush(track);
        painter.drawRoundedRect(QRectF(rect()), radius, radius);
        if (m_fraction <= 0)
            return;
        painter.setBrush(palette().color(QPalette::Highlight));
        const qreal filled = std::max(height() * 1.0, width() * m_fraction);
        painter.drawRoundedRect(QRectF(0, 0, filled, height()), radius, radius);
    }

private:
    double m_fraction = 0;
};

namespace {

QString bytes(std::int64_t count) {
    return QLocale().formattedDataSize(count, 1, QLocale::DataSizeTraditionalFormat);
}

QLabel* valueLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    label->setFont(font);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QLabel* titleLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(12);
    label->setFont(font);
    return label;
}

} // namespace

RemoteSystemInfoView::RemoteSystemInfoView(ConnectionState& state, QWidget* parent)
    : QFrame(parent)
    , m_state(state) {
    setObjectName(QStringLiteral("systemInfo"));
    setFixedWidth(280);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);

    m_empty = secondaryLabel(QStringLiteral("Geen systeeminformatie ontvangen"), 12, this);
    m_empty->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_empty);

    m_details = new QWidget(this);
    auto* rows = new QVBoxLayout(m_details);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(10);
    auto* header = new QVBoxLayout;
    header->setSpacing(2);
    m_deviceName = headingLabel({}, 14, m_details);
    m_deviceName->setTextFormat(Qt::PlainText);
    m_deviceName->setWordWrap(true);
    header->addWidget(m_deviceName);
    m_system = secondaryLabel({}, 11, m_details);
    m_system->setTextFormat(Qt::PlainText);
    header->addWidget(m_system);
    rows->addLayout(header);
    auto* line = new QFrame(m_details);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    rows->addWidget(line);

    m_processor = addUsageRow(QStringLiteral("Processor"));
    m_cores = addValueRow(QStringLiteral("Logische cores"));
    m_memory = addUsageRow(QStringLiteral("Geheugen"));
    m_disk = addUsageRow(QStringLiteral("Schijf"));
    m_uptime = addValueRow(QStringLiteral("Uptime"));
    layout->addWidget(m_details);

    connect(&state, &ConnectionState::remoteSystemInfoChanged, this,
            &RemoteSystemInfoView::showInfo);
    showInfo();
}

RemoteSystemInfoView::UsageRow RemoteSystemInfoView::addUsageRow(const QString& title) {
    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(4);
    UsageRow row;
    grid->addWidget(titleLabel(title, m_details), 0, 0);
    row.percent = valueLabel(m_details);
    row.percent->setAccessibleName(title);
    grid->addWidget(row.percent, 0, 1);
    row.bar = new UsageBar(m_details);
    grid->addWidget(row.bar, 1, 0, 1, 2);
    row.detail = secondaryLabel({}, 10, m_details);
    row.detail->setTextFormat(Qt::PlainText);
    row.detail->setWordWrap(true);
    grid->addWidget(row.detail, 2, 0, 1, 2);
    static_cast<QVBoxLayout*>(m_details->layout())->addLayout(grid);
    return row;
}

QLabel* RemoteSystemInfoView::addValueRow(const QString& title) {
    auto* line = new QHBoxLayout;
    line->addWidget(titleLabel(title, m_details));
    auto* value = valueLabel(m_details);
    value->setAccessibleName(title);
    line->addWidget(value, 1);
    static_cast<QVBoxLayout*>(m_details->layout())->addLayout(line);
    return value;
}

void RemoteSystemInfoView::showInfo() {
    const auto& info = m_state.remoteSystemInfo();
    m_empty->setVisible(!info);
    m_details->setVisible(info.has_value());
    if (!info)
        return;
    const auto text = [](const std::string& value) { return QString::fromStdString(value); };
    m_deviceName->setText(text(info->deviceName));
    m_system->setText(
        QStringLiteral("%1 %2 · %3")
            .arg(text(info->operatingSystem), text(info->osVersion), text(info->architecture)));

    m_processor.percent->setText(formatPercent(info->cpuUsagePercent));
    m_processor.bar->setPercent(info->cpuUsagePercent);
    m_processor.detail->setText(text(info->processorName));
    m_cores->setText(QString::number(info->logicalProcessorCount));
    const auto showUsage = [](UsageRow& row, std::int64_t used, std::int64_t total) {
        const double share = usageShare(used, total);
        row.percent->setText(formatPercent(share));
        row.bar->setPercent(share);
        row.detail->setText(QStringLiteral("%1 van %2").arg(bytes(used), bytes(total)));
    };
    showUsage(m_memory, info->memoryUsedBytes, info->memoryTotalBytes);
    showUsage(m_disk, info->diskUsedBytes, info->diskTotalBytes);
    m_uptime->setText(formatUptime(info->uptimeSeconds));
    adjustSize();
}

} // namespace velmarin::ui
