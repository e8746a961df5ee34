#pragma once

// The Host's computer as the Viewer sees it: processor load, logical cores,
// memory and disk use and uptime from the last report the Host sent. The
// viewer's toolbar opens it as a popover; it follows every new report.

#include <QFrame>
#include <QString>

#include <cstdint>

class QLabel;

namespace velmarin {
class ConnectionState;
}

namespace velmarin::ui {

class UsageBar;

// Days and hours from one day on ("2d 5u"), hours and minutes from one hour
// ("3u 12m"), otherwise minutes ("45m"); a negative uptime reads "0m".
QString formatUptime(std::int64_t seconds);

// Rounded to a whole number, then "%".
QString formatPercent(double value);

// `used` as a percentage of `total`; 0 for a total below one byte.
double usageShare(std::int64_t used, std::int64_t total);

class RemoteSystemInfoView : public QFrame {
    Q_OBJECT

public:
    explicit RemoteSystemInfoView(ConnectionState& state, QWidget* parent = nullptr);

private:
    struct UsageRow {
        QLabel* percent = nullptr;
        UsageBar* bar = nullptr;
        QLabel* detail = nullptr;
    };
    UsageRow addUsageRow(const QString& title);
    QLabel* addValueRow(const QString& title);
    void showInfo();

    ConnectionState& m_state;
    QLabel* m_empty = nullptr;
    QWidget* m_details = nullptr;
    QLabel* m_deviceName = nullptr;
    QLabel* m_system = nullptr;
    UsageRow m_processor;
    QLabel* m_cores = nullptr;
    UsageRow m_memory;
    UsageRow m_disk;
    QLabel* m_uptime = nullptr;
};

} // namespace velmarin::ui
