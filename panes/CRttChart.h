#pragma once

// A small chart of the selected echo target's recent round trips, under its
// results: one point per result, oldest on the left, so that jitter and loss
// show at a glance. A result that did not succeed is a red mark on the top
// edge. It shows the newest results the engine keeps, at most MaxSamples: the
// record limit shortens it as it shortens the list.
//
// Threads: the GUI thread only; the engine is read after its posted messages.

#include "diag/PingInfo.h"

#include <QWidget>

#include <cstdint>
#include <vector>

namespace panes {

class CRttChart final : public QWidget
{
    Q_OBJECT

public:
    struct Sample
    {
        double milliseconds = 0; // round trip, from the kernel's microseconds
        bool lost = false;       // status not 0
        std::uint32_t sequence = 0;
    };

    explicit CRttChart(QWidget* parent);

    void SetEngine(diag::IPingInfo* engine);
    void ShowTarget(int target);
    // Reads the target's newest results again and repaints.
    void Refresh();
    void SetFailureColor(const QColor& color);

    const std::vector<Sample>& Samples() const { return m_samples; }
    // The top of the scale in ms: a round number above the slowest result.
    double ScaleMilliseconds() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr int MaxSamples = 300;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    diag::IPingInfo* m_engine = nullptr;
    int m_target = -1;
    std::vector<Sample> m_samples;
    QColor m_failure{200, 0, 0};
};

} // namespace panes
