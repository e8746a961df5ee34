#include "app/IDFormatter.h"

#include <QTextBoundaryFinder>

namespace velmarin::IDFormatter {

QString normalize(const QString& text) {
    QString digits;
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = clusters.toNextBoundary(); end != -1; end = clusters.toNextBoundary()) {
        const QStringView cluster = QStringView(text).mid(start, end - start);
        if (!cluster.isEmpty()) {
            const char32_t first = cluster.at(0).isHighSurrogate() && cluster.size() > 1
                                       ? QChar::surrogateToUcs4(cluster.at(0), cluster.at(1))
                                       : cluster.at(0).unicode();
            if (QChar::isNumber(first))
                digits += cluster;
        }
        start = end;
    }
    return digits;
}

QString format(const QString& text) {
    const QString digits = normalize(text);
    if (digits.size() != 9)
        return text;
    return digits.mid(0, 3) + u'-' + digits.mid(3, 3) + u'-' + digits.mid(6, 3);
}

bool isComplete(const QString& text) {
    return normalize(text).size() == 9;
}

} // namespace velmarin::IDFormatter
