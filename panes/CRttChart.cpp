#include "panes/CRttChart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace panes {

CRttChart::CRttChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("RttChart"));
    setAccessibleName(QStringLiteral("График времени отклика"));
    setAccessibleDescription(
        QStringLiteral("Время отправки/получения последних результатов выбранного узла"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void CRttChart::SetEngine(diag::IPingInfo* engine)
{
    m_engine = engine;
    m_target = -1;
    m_samples.clear();
    update();
}

void CRttChart::ShowTarget(int target)
{
    m_target = target;
    Refresh();
}

void CRttChart::SetFailureColor(const QColor& color)
{
    m_failure = color;
    update();
}

void CRttChart::Refresh()
{
    m_samples.clear();
    if (m_engine && m_target >= 0) {
        const int count = m_engine->GetRecordCount(m_target);
        const int first = std::max(0, count - MaxSamples);
        for (int position = first; position < count; ++position) {
            const diag::EchoRecord* record = m_engine->GetRecordInOrder(m_target, position);
            if (!record)
                break; // the list was cut meanwhile; the next message reads again
            Sample sample;
            sample.lost = record->Status != 0;
            sample.milliseconds = std::max(record->RoundTripMicroseconds / 1000.0,
                                           static_cast<double>(record->RoundTripTime));
            sample.sequence = record->Sequence;
            m_samples.push_back(sample);
        }
    }
    update();
}

double CRttChart::ScaleMilliseconds() const
{
    double slowest = 0;
    for (const Sample& sample : m_samples)
        if (!sample.lost)
            slowest = std::max(slowest, sample.milliseconds);
    // 1, 2 or 5 times a power of ten, at least 1 ms.
    double scale = 1;
    while (scale < slowest) {
        const double decade = std::pow(10.0, std::floor(std::log10(scale) + 1e-9));
        const double step = scale / decade;
        scale = step < 2 ? 2 * decade : step < 5 ? 5 * decade : 10 * decade;
    }
    return scale;
}

QSize CRttChart::sizeHint() const
{
    return {fontMetrics().height() * 20, fontMetrics().height() * 7};
}

QSize CRttChart::minimumSizeHint() const
{
    return {fontMetrics().height() * 8, fontMetrics().height() * 4};
}

void CRttChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colors = palette();
    painter.fillRect(rect(), colors.color(QPalette::Base));

    const QFontMetrics metrics = fontMetrics();
    const double scale = ScaleMilliseconds();
    const QString top = QStringLiteral("%1 мс").arg(scale);
    const int left = metrics.horizontalAdvance(QStringLiteral("0000 мс")) + 8;
    const int line = metrics.height();
    const QRect plot(left, line / 2 + 4, std::max(width() - left - 8, 10),
                     std::max(height() - line * 2 - 8, 10));

    // Scale: the top value, half of it and 0, with faint guide lines.
    painter.setPen(colors.color(QPalette::Text));
    for (int i = 0; i <= 2; ++i) {
        const int y = plot.top() + plot.height() * i / 2;
        const QString label = i == 0 ? top : i == 1 ? QStringLiteral("%1").arg(scale / 2)
                                                    : QStringLiteral("0");
        painter.drawText(QRect(0, y - line / 2, left - 6, line), Qt::AlignRight | Qt::AlignVCenter,
                         label);
        QColor guide = colors.color(QPalette::Text);
        guide.setAlpha(50);
        painter.setPen(QPen(guide, 1, i == 2 ? Qt::SolidLine : Qt::DotLine));
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(colors.color(QPalette::Text));
    }

    int lost = 0;
    for (const Sample& sample : m_samples)
        lost += sample.lost ? 1 : 0;
    const QString caption =
        m_samples.empty()
            ? QStringLiteral("Нет результатов")
            : QStringLiteral("Последние результаты: %1, потеряно: %2").arg(m_samples.size()).arg(lost);
    painter.drawText(QRect(plot.left(), plot.bottom() + 4, plot.width(), line),
                     Qt::AlignLeft | Qt::AlignVCenter, caption);
    if (m_samples.empty())
        return;

    // One slot per sample of the largest count, so the points do not spread
    // out while the list is still short.
    const int places = std::max<int>(static_cast<int>(m_samples.size()), 20);
    const double step = static_cast<double>(plot.width()) / places;
    auto x = [&](std::size_t i) { return plot.left() + step * (static_cast<double>(i) + 0.5); };
    auto y = [&](double ms) {
        return plot.bottom() - std::min(ms / scale, 1.0) * plot.height();
    };

    const QColor accent = colors.color(QPalette::Highlight);
    QPainterPath path;
    bool open = false;
    for (std::size_t i = 0; i < m_samples.size(); ++i) {
        if (m_samples[i].lost) {
            open = false; // a loss breaks the line
            continue;
        }
        const QPointF point(x(i), y(m_samples[i].milliseconds));
        if (open)
            path.lineTo(point);
        else
            path.moveTo(point);
        open = true;
    }
    painter.setPen(QPen(accent, 1.5));
    painter.drawPath(path);
    painter.setBrush(accent);
    const double dot = std::clamp(step / 3, 1.0, 3.0);
    for (std::size_t i = 0; i < m_samples.size(); ++i)
        if (!m_samples[i].lost)
            painter.drawEllipse(QPointF(x(i), y(m_samples[i].milliseconds)), dot, dot);

    // Losses: a red tick from the top edge down.
    painter.setPen(QPen(m_failure, std::max(1.5, std::min(step * 0.6, 3.0))));
    for (std::size_t i = 0; i < m_samples.size(); ++i)
        if (m_samples[i].lost)
            painter.drawLine(QPointF(x(i), plot.top()), QPointF(x(i), plot.top() + line * 0.8));
}

} // namespace panes
