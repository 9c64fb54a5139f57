#pragma once

#include "history/trendplot.h"
#include "history/trendreadout.h"

#include <QWidget>

#include <optional>

// Paints a TrendPlot: the value axis on the left, the time axis below, a line or marks for each
// series and a legend underneath, and the readout at a time when there is one. Everything it
// shows is worked out by TrendPlot and TrendReadout; this only scales it to the widget, paints
// it and tells what the user does over it, in the plot's own units: the time under the cursor,
// a drag or a wheel step, an arrow key, a click on a legend entry.
class TrendView : public QWidget
{
    Q_OBJECT
public:
    explicit TrendView(QWidget *parent = nullptr);

    void setPlot(TrendPlot plot);
    const TrendPlot &plot() const { return m_plot; }
    // The vertical line and the values at its time, or none. Also the widget's accessible
    // description, for a screen reader.
    void setReadout(std::optional<TrendReadout> readout);
    const std::optional<TrendReadout> &readout() const { return m_readout; }

    // The picture as shown, at the screen's pixel density.
    QImage image();

    static QString curveName(int curve);
    QSize sizeHint() const override { return {600, 260}; }
    QSize minimumSizeHint() const override { return {200, 80}; }

    // Where the plot's area lies and where each legend entry is, for the widget's size.
    QRect plotArea() const;
    QRect legendEntry(int curve) const;
    // The time at a point across the plot's area.
    qint64 timeAt(double x) const;

signals:
    void hovered(qint64 msecs);       // the cursor is over the plot at that time
    void left();                      // the cursor left the plot
    void dragged(qint64 byMs);        // the user dragged the plot: show that much later
    void zoomed(double factor, qint64 around);
    void stepped(bool forward);       // an arrow key: the readout to the next or previous report
    void scrolled(double widths);     // a key: move by that many times what is shown
    void followRequested();           // End
    void legendClicked(int curve);
    void copyRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Geometry {
        int labelWidth = 0;
        QRect plot;
        QList<QRect> legend; // an entry a curve
    };
    Geometry geometry() const;
    QString legendText(int curve) const;

    TrendPlot m_plot;
    std::optional<TrendReadout> m_readout;
    std::optional<double> m_dragFrom; // the x where a drag started, in pixels
    qint64 m_draggedMs = 0;
};
