// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QPointF>
#include <QTimer>
#include <QWidget>

#include <array>
#include <deque>

class QChart;
class QLineSeries;
class QScatterSeries;
class QLogValueAxis;
class QValueAxis;

// The precise response time of each response over time, one series per link,
// with the 2000 ms delay line and the delayed responses marked. Keeps the
// last kMaxPoints of each series and redraws at most once per kRedrawMs, and
// only while shown, so a flood of responses costs the window's timers nothing.
class ResponseChart : public QWidget {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxPoints = 10'000;
    static constexpr int kRedrawMs = 250;
    static constexpr qint64 kDelayLimitUs = 2'000'000;
    enum Series { Type4, Type5, Delayed, kSeriesCount };

    explicit ResponseChart(QWidget *parent = nullptr);

    // A response on link (0: Type 4, 1: Type 5) measured after usec.
    void addResponse(int link, qint64 usec);

    // Points kept (x: seconds since the chart began, y: milliseconds, drawn on a
    // log scale so sub-millisecond answers and the delay line both show).
    const std::deque<QPointF> &points(Series series) const { return m_points[series]; }
    // Points the chart itself holds, as last drawn.
    qsizetype drawnCount(Series series) const;
    int redrawCount() const { return m_redraws; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void keep(Series series, QPointF point);
    void redraw();

    QElapsedTimer m_since;
    std::array<std::deque<QPointF>, kSeriesCount> m_points;
    std::array<QLineSeries *, 2> m_linkSeries{};
    QScatterSeries *m_delayedSeries = nullptr;
    QLineSeries *m_delayLine = nullptr;
    QValueAxis *m_timeAxis = nullptr;
    QLogValueAxis *m_msAxis = nullptr;
    QTimer m_redrawTimer;
    bool m_stale = false;
    int m_redraws = 0;
};
