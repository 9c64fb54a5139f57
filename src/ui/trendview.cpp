#include "trendview.h"

#include <QAccessible>
#include <QDateTime>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

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
constexpr double WheelZoom = 0.8; // a wheel step towards the user zooms in to this much
constexpr int DragSlop = 3;       // pixels a press moves before it is a drag

} // namespace

TrendView::TrendView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("trend"));
    setAccessibleName(tr("Trend of the reported values"));
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
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

QString TrendView::legendText(int curve) const
{
    return m_plot.hidden[size_t(curve)] ? tr("%1 (hidden)").arg(curveName(curve)) : curveName(curve);
}

void TrendView::setPlot(TrendPlot plot)
{
    m_plot = std::move(plot);
    update();
}

void TrendView::setReadout(std::optional<TrendReadout> readout)
{
    m_readout = std::move(readout);
    const QString text = m_readout ? m_readout->text(m_plot.hidden) : QString();
    if (text != accessibleDescription()) {
        setAccessibleDescription(text);
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
    update();
}

QImage TrendView::image()
{
    return grab().toImage();
}

TrendView::Geometry TrendView::geometry() const
{
    const QFontMetrics fm = fontMetrics();
    const int line = fm.height();
    Geometry g;
    // Room for the value labels on the left, the time labels and the legend below.
    g.labelWidth = fm.horizontalAdvance(QStringLiteral("0000"));
    for (const QString &label : m_plot.valueLabels)
        g.labelWidth = std::max(g.labelWidth, fm.horizontalAdvance(label));
    // The legend: entries left to right from the plot's left edge, on as many rows as needed.
    const int left = g.labelWidth + 12;
    QList<QPoint> at;
    QList<int> widths;
    int x = left, row = 0;
    for (int c = 0; c < TrendPlot::CurveCount; ++c) {
        const int w = 28 + fm.horizontalAdvance(legendText(c)) + 16;
        if (x + w > width() && x > left)
            x = left, ++row;
        at << QPoint(x, row);
        widths << w - 16;
        x += w;
    }
    g.plot = rect().adjusted(left, line / 2 + 2, -line, -(line + 8 + (row + 1) * (line + 4)));
    for (int c = 0; c < TrendPlot::CurveCount; ++c)
        g.legend << QRect(at[c].x(), g.plot.bottom() + line + 8 + at[c].y() * (line + 4), widths[c], line);
    return g;
}

QRect TrendView::plotArea() const
{
    return geometry().plot;
}

QRect TrendView::legendEntry(int curve) const
{
    return geometry().legend.value(curve);
}

qint64 TrendView::timeAt(double x) const
{
    const QRect plot = plotArea();
    const double across = std::clamp((x - plot.left()) / std::max(1, plot.width()), 0.0, 1.0);
    return m_plot.from + qint64(std::llround(across * double(m_plot.to - m_plot.from)));
}

void TrendView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm = fontMetrics();
    const int line = fm.height();
    const Geometry g = geometry();
    const QRect plot = g.plot;
    const QStringList &valueLabels = m_plot.valueLabels;
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
        p.drawText(QRectF(0, y - line, g.labelWidth + 6, 2 * line), Qt::AlignRight | Qt::AlignVCenter, valueLabels[i]);
    }
    if (!m_plot.empty) {
        for (const qint64 t : std::as_const(m_plot.timeTicks)) {
            const double x = toPixel(QPointF(double(t), m_plot.low)).x();
            p.setPen(grid);
            p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            p.setPen(palette().color(QPalette::Text));
            const QString text = QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("HH:mm:ss"));
            const int w = fm.horizontalAdvance(text);
            // Centred under its tick, but whole within the widget.
            const double left = std::clamp(x - w / 2.0 - 2, 0.0, std::max(0.0, double(width() - w - 4)));
            p.drawText(QRectF(left, plot.bottom() + 4, w + 4, line), Qt::AlignCenter, text);
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
            // A value beyond a fixed axis: a filled arrowhead at the edge it passed, pointing on.
            p.setPen(Qt::NoPen);
            p.setBrush(Styles[c].color);
            for (const QPointF &v : lines.clipped) {
                const QPointF at = toPixel(v);
                const double dir = v.y() >= m_plot.high ? -1 : 1;
                p.drawPolygon(QPolygonF{at, at + QPointF(-4, -6 * dir), at + QPointF(4, -6 * dir)});
            }
        }
        p.restore();
    }

    if (m_readout && !m_plot.empty) {
        const double x = toPixel(QPointF(double(m_readout->at), 0)).x();
        if (x >= plot.left() && x <= plot.right()) {
            p.setPen(QPen(palette().color(QPalette::Text), 1));
            p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            const QStringList texts = m_readout->lines(m_plot.hidden);
            int w = 0;
            for (const QString &t : texts)
                w = std::max(w, fm.horizontalAdvance(t));
            QRectF box(x + 6, plot.top() + 4, w + 12, texts.size() * line + 8);
            if (box.right() > plot.right())
                box.moveRight(x - 6);
            p.setPen(palette().color(QPalette::Mid));
            QColor fill = palette().color(QPalette::ToolTipBase);
            fill.setAlpha(235);
            p.setBrush(fill);
            p.drawRect(box);
            for (qsizetype i = 0; i < texts.size(); ++i) {
                // Each series' value in its colour: the curve named by its first word.
                int curve = -1;
                for (int c = 0; c < TrendPlot::CurveCount; ++c)
                    if (i > 0 && texts[i].startsWith(TrendPlot::shortName(c)))
                        curve = c;
                p.setPen(curve >= 0 ? Styles[curve].color.darker(120) : palette().color(QPalette::ToolTipText));
                p.drawText(QRectF(box.left() + 6, box.top() + 4 + i * line, w, line), Qt::AlignLeft | Qt::AlignVCenter,
                           texts[i]);
            }
        }
    }

    // A short line of each series' pen and its name; a hidden one greyed.
    for (int c = 0; c < TrendPlot::CurveCount; ++c) {
        const QRect entry = g.legend[c];
        const bool hidden = m_plot.hidden[size_t(c)];
        const QColor color = hidden ? palette().color(QPalette::Disabled, QPalette::Text) : Styles[c].color;
        p.setPen(QPen(color, 2, Styles[c].line));
        p.drawLine(QPointF(entry.left(), entry.center().y()), QPointF(entry.left() + 22, entry.center().y()));
        p.setPen(palette().color(hidden ? QPalette::Disabled : QPalette::Active, QPalette::Text));
        p.drawText(QRect(entry.left() + 28, entry.top(), width() - entry.left() - 28, line),
                   Qt::AlignLeft | Qt::AlignVCenter, legendText(c));
    }
}

void TrendView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const Geometry g = geometry();
    for (int c = 0; c < TrendPlot::CurveCount; ++c) {
        if (g.legend[c].contains(event->position().toPoint())) {
            emit legendClicked(c);
            return;
        }
    }
    if (g.plot.contains(event->position().toPoint()))
        m_dragFrom = event->position().x(), m_draggedMs = 0;
}

void TrendView::mouseMoveEvent(QMouseEvent *event)
{
    const QRect plot = plotArea();
    const double x = event->position().x();
    if (m_dragFrom && (event->buttons() & Qt::LeftButton)) {
        if (m_draggedMs == 0 && std::abs(x - *m_dragFrom) < DragSlop)
            return;
        // The time under the press stays under the cursor.
        const double msPerPixel = double(m_plot.to - m_plot.from) / std::max(1, plot.width());
        const qint64 total = qint64(std::llround((*m_dragFrom - x) * msPerPixel));
        if (total != m_draggedMs) {
            const qint64 by = total - m_draggedMs;
            m_draggedMs = total == 0 ? 1 : total;
            emit dragged(by);
        }
        return;
    }
    if (plot.contains(event->position().toPoint()) && !m_plot.empty)
        emit hovered(timeAt(x));
    else if (m_readout && !hasFocus())
        emit left();
}

void TrendView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_dragFrom) {
        const bool click = m_draggedMs == 0;
        m_dragFrom.reset();
        if (click && plotArea().contains(event->position().toPoint()) && !m_plot.empty)
            emit hovered(timeAt(event->position().x()));
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void TrendView::leaveEvent(QEvent *event)
{
    if (m_readout && !hasFocus())
        emit left();
    QWidget::leaveEvent(event);
}

void TrendView::wheelEvent(QWheelEvent *event)
{
    const int steps = event->angleDelta().y();
    if (steps == 0 || m_plot.empty)
        return QWidget::wheelEvent(event);
    const QRect plot = plotArea();
    const double x = std::clamp(event->position().x(), double(plot.left()), double(plot.right()));
    emit zoomed(std::pow(WheelZoom, steps / 120.0), timeAt(x));
    event->accept();
}

void TrendView::keyPressEvent(QKeyEvent *event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const qint64 middle = m_readout ? m_readout->at : m_plot.from + (m_plot.to - m_plot.from) / 2;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (shift)
            emit scrolled(event->key() == Qt::Key_Left ? -0.1 : 0.1);
        else
            emit stepped(event->key() == Qt::Key_Right);
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        emit scrolled(event->key() == Qt::Key_PageUp ? -0.9 : 0.9);
        return;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        emit zoomed(0.5, middle);
        return;
    case Qt::Key_Minus:
        emit zoomed(2, middle);
        return;
    case Qt::Key_End:
        emit followRequested();
        return;
    case Qt::Key_Escape:
        if (m_readout) {
            emit left();
            return;
        }
        break;
    }
    QWidget::keyPressEvent(event);
}
