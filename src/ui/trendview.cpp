#include "trendview.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

struct Style {
    QColor color;
    Qt::PenStyle line;
    qreal width;
};
// Measured values in solid lines, settings that hold in thinner dashed steps. A dashed pen one
// pixel wide is drawn without outlining each dash, some hundred times faster than a wider one
// where a setting changed often.
const Style Styles[TrendPlot::CurveCount] = {
    {QColor(0x1f, 0x77, 0xb4), Qt::SolidLine, 1.5},
    {QColor(0xe0, 0x6c, 0x00), Qt::SolidLine, 1.5},
    {QColor(0x2c, 0x9c, 0x2c), Qt::DashLine, 1},
    {QColor(0xc6, 0x28, 0x28), Qt::DashLine, 1},
};
constexpr int MarkRadius = 3;

} // namespace

TrendView::TrendView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("trend"));
    setAccessibleName(tr("Trend of the reported values"));
    setAutoFillBackground(false);
}

QString TrendView::curveName(int curve)
{
    switch (curve) {
    case TrendPlot::ProcessValue1: return tr("PV01 process value 1");
    case TrendPlot::ProcessValue2: return tr("PV02 process value 2");
    case TrendPlot::Setpoint1: return tr("SV11 output 1 setpoint");
    case TrendPlot::Setpoint2: return tr("SV21 output 2 setpoint");
    }
    return {};
}

void TrendView::setPlot(TrendPlot plot)
{
    m_plot = std::move(plot);
    update();
}

void TrendView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm = fontMetrics();
    const int line = fm.height();

    // Room for the value labels on the left, the time labels and the legend below.
    const QStringList &valueLabels = m_plot.valueLabels;
    int labelWidth = fm.horizontalAdvance(QStringLiteral("0000"));
    for (const QString &label : valueLabels)
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(label));
    // The legend: entries left to right from the plot's left edge, on as many rows as needed.
    const int left = labelWidth + 12;
    QList<QPoint> legendAt;
    int x = left, row = 0;
    for (int c = 0; c < TrendPlot::CurveCount; ++c) {
        const int w = 28 + fm.horizontalAdvance(curveName(c)) + 16;
        if (x + w > width() && x > left)
            x = left, ++row;
        legendAt << QPoint(x, row);
        x += w;
    }
    const QRect plot = rect().adjusted(left, line / 2 + 2, -line, -(line + 8 + (row + 1) * (line + 4)));
    if (plot.width() < 20 || plot.height() < 20)
        return;

    const double span = double(std::max<qint64>(1, m_plot.to - m_plot.from));
    const double range = m_plot.high - m_plot.low;
    const auto toPixel = [&](const QPointF &v) {
        return QPointF(plot.left() + (v.x() - double(m_plot.from)) / span * plot.width(),
                       plot.top() + (m_plot.high - v.y()) / range * plot.height());
    };

    // Grid and labels.
    const QColor grid = palette().color(QPalette::Mid).lighter(140);
    p.setPen(palette().color(QPalette::Text));
    for (qsizetype i = 0; i < m_plot.valueTicks.size() && i < valueLabels.size(); ++i) {
        const double y = toPixel(QPointF(double(m_plot.from), m_plot.valueTicks[i])).y();
        p.setPen(grid);
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(palette().color(QPalette::Text));
        p.drawText(QRectF(0, y - line, labelWidth + 6, 2 * line), Qt::AlignRight | Qt::AlignVCenter, valueLabels[i]);
    }
    if (!m_plot.empty) {
        for (const qint64 t : std::as_const(m_plot.timeTicks)) {
            const double x = toPixel(QPointF(double(t), m_plot.low)).x();
            p.setPen(grid);
            p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            p.setPen(palette().color(QPalette::Text));
            const QString text = QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("HH:mm:ss"));
            const int w = fm.horizontalAdvance(text);
            p.drawText(QRectF(x - w / 2.0 - 2, plot.bottom() + 4, w + 4, line), Qt::AlignCenter, text);
        }
    }
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(plot);

    if (m_plot.empty) {
        p.setPen(palette().color(QPalette::PlaceholderText));
        p.drawText(plot, Qt::AlignCenter, tr("No values reported yet"));
    } else {
        p.save();
        p.setClipRect(plot.adjusted(-MarkRadius, -MarkRadius, MarkRadius, MarkRadius));
        for (int c = 0; c < TrendPlot::CurveCount; ++c) {
            const TrendPlot::Lines &lines = m_plot.curves[size_t(c)];
            p.setPen(QPen(Styles[c].color, Styles[c].width, Styles[c].line));
            p.setBrush(Qt::NoBrush);
            for (const QList<QPointF> &run : lines.runs) {
                QPolygonF poly;
                poly.reserve(run.size());
                for (const QPointF &v : run)
                    poly << toPixel(v);
                p.drawPolyline(poly);
            }
            p.setPen(QPen(Styles[c].color, 1.2));
            p.setBrush(palette().base());
            for (const QPointF &v : lines.marks)
                p.drawEllipse(toPixel(v), MarkRadius, MarkRadius);
        }
        p.restore();
    }

    // A short line of each series' pen and its name.
    for (int c = 0; c < TrendPlot::CurveCount; ++c) {
        const int lx = legendAt[c].x(), ly = plot.bottom() + line + 8 + legendAt[c].y() * (line + 4);
        p.setPen(QPen(Styles[c].color, 2, Styles[c].line));
        p.drawLine(QPointF(lx, ly + line / 2.0), QPointF(lx + 22, ly + line / 2.0));
        p.setPen(palette().color(QPalette::Text));
        p.drawText(QRect(lx + 28, ly, width() - lx - 28, line), Qt::AlignLeft | Qt::AlignVCenter, curveName(c));
    }
}
