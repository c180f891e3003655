// SPDX-License-Identifier: GPL-3.0-or-later
#include "responsechart.h"

#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace {

constexpr double kDelayLimitMs = 2000.0;
constexpr int kMinimumWidthPx = 420;
constexpr double kFloorMs = 0.001; // a log axis cannot show 0

QList<QPointF> asList(const std::deque<QPointF> &points) {
    return QList<QPointF>(points.begin(), points.end());
}

} // namespace

ResponseChart::ResponseChart(QWidget *parent)
    : QWidget(parent) {
    m_since.start();
    auto *chart = new QChart;
    chart->setTitle(QStringLiteral("Response times"));
    chart->legend()->setAlignment(Qt::AlignBottom);
    const char *names[] = {"Type 4", "Type 5"};
    for (int link = 0; link < 2; ++link) {
        m_linkSeries[size_t(link)] = new QLineSeries;
        m_linkSeries[size_t(link)]->setName(QString::fromLatin1(names[link]));
        m_linkSeries[size_t(link)]->setPointsVisible(true);
        chart->addSeries(m_linkSeries[size_t(link)]);
    }
    m_delayedSeries = new QScatterSeries;
    m_delayedSeries->setName(QStringLiteral("Delayed"));
    m_delayedSeries->setColor(Qt::red);
    m_delayedSeries->setMarkerSize(9);
    chart->addSeries(m_delayedSeries);
    m_delayLine = new QLineSeries;
    m_delayLine->setName(QStringLiteral("2000 ms"));
    m_delayLine->setPen(QPen(Qt::darkRed, 1, Qt::DashLine));
    chart->addSeries(m_delayLine);

    m_timeAxis = new QValueAxis;
    m_timeAxis->setTitleText(QStringLiteral("s"));
    m_msAxis = new QLogValueAxis;
    m_msAxis->setLabelFormat(QStringLiteral("%g"));
    m_msAxis->setTitleText(QStringLiteral("ms"));
    chart->addAxis(m_timeAxis, Qt::AlignBottom);
    chart->addAxis(m_msAxis, Qt::AlignLeft);
    for (QAbstractSeries *series : chart->series()) {
        series->attachAxis(m_timeAxis);
        series->attachAxis(m_msAxis);
    }

    auto *view = new QChartView(chart);
    view->setRenderHint(QPainter::Antialiasing);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    setMinimumWidth(kMinimumWidthPx);
    setAccessibleName(QStringLiteral("Response time chart"));

    m_redrawTimer.setSingleShot(true);
    m_redrawTimer.setInterval(kRedrawMs);
    connect(&m_redrawTimer, &QTimer::timeout, this, &ResponseChart::redraw);
    redraw();
    m_redraws = 0;
}

void ResponseChart::addResponse(int link, qint64 usec) {
    if (link < 0 || link > 1)
        return;
    const QPointF point(double(m_since.elapsed()) / 1000.0,
                        std::max(kFloorMs, double(usec) / 1000.0));
    keep(link == 0 ? Type4 : Type5, point);
    if (usec > kDelayLimitUs)
        keep(Delayed, point);
    m_stale = true;
    if (isVisible() && !m_redrawTimer.isActive())
        m_redrawTimer.start();
}

qsizetype ResponseChart::drawnCount(Series series) const {
    return series == Delayed ? m_delayedSeries->count() : m_linkSeries[size_t(series)]->count();
}

void ResponseChart::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (m_stale && !m_redrawTimer.isActive())
        m_redrawTimer.start();
}

void ResponseChart::keep(Series series, QPointF point) {
    std::deque<QPointF> &points = m_points[series];
    points.push_back(point);
    if (qsizetype(points.size()) > kMaxPoints)
        points.pop_front();
}

void ResponseChart::redraw() {
    m_stale = false;
    ++m_redraws;
    double latestS = 1.0;
    double earliestS = latestS;
    double slowestMs = kDelayLimitMs * 2;
    double fastestMs = 0.1;
    for (int link = 0; link < 2; ++link) {
        const std::deque<QPointF> &points = m_points[size_t(link)];
        m_linkSeries[size_t(link)]->replace(asList(points));
        for (const QPointF &point : points) {
            slowestMs = std::max(slowestMs, point.y() * 2);
            fastestMs = std::min(fastestMs, point.y() / 2);
        }
        if (!points.empty()) {
            latestS = std::max(latestS, points.back().x());
            earliestS = std::min(earliestS, points.front().x());
        }
    }
    m_delayedSeries->replace(asList(m_points[Delayed]));
    earliestS = std::min(earliestS, latestS - 1.0);
    m_delayLine->replace({QPointF(earliestS, kDelayLimitMs), QPointF(latestS, kDelayLimitMs)});
    m_timeAxis->setRange(earliestS, latestS);
    m_msAxis->setRange(fastestMs, slowestMs);
}
