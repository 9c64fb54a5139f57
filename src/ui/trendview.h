#pragma once

#include "history/trendplot.h"

#include <QWidget>

// Paints a TrendPlot: the value axis on the left, the time axis below, a line or marks for each
// series and a legend underneath. Everything it shows is worked out by TrendPlot; this only
// scales it to the widget and paints.
class TrendView : public QWidget
{
    Q_OBJECT
public:
    explicit TrendView(QWidget *parent = nullptr);

    void setPlot(TrendPlot plot);
    const TrendPlot &plot() const { return m_plot; }

    static QString curveName(int curve);
    QSize sizeHint() const override { return {600, 260}; }
    QSize minimumSizeHint() const override { return {200, 80}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TrendPlot m_plot;
};
