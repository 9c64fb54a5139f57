#include "valuelabel.h"

#include <QPainter>
#include <QTextLayout>

ValueLabel::ValueLabel(const QString &description, QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setAccessibleDescription(description);
    m_nameUpdate.setSingleShot(true);
    m_nameUpdate.setInterval(250);
    connect(&m_nameUpdate, &QTimer::timeout, this, &ValueLabel::publishName);
}

void ValueLabel::setValue(const QString &text)
{
    setText(text);
    if (accessibleName().isEmpty())
        publishName();
    else if (!m_nameUpdate.isActive())
        m_nameUpdate.start();
}

void ValueLabel::publishName()
{
    if (accessibleName() != text())
        setAccessibleName(text());
}

void ValueLabel::paintEvent(QPaintEvent *event)
{
    const QRect r = contentsRect();
    if (!m_wrapAnywhere) {
        const int room = r.width() - 2 * margin() - 4;
        if (fontMetrics().horizontalAdvance(text()) <= room)
            return QLabel::paintEvent(event);
        // Too long for one line: keep its beginning in view and mark the cut.
        QPainter p(this);
        drawFrame(&p);
        p.setPen(palette().color(foregroundRole()));
        p.drawText(r.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideRight, room));
        return;
    }
    QPainter p(this);
    drawFrame(&p);
    QTextOption option(alignment() & Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QTextLayout layout(text(), font());
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(r.width());
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    p.setPen(palette().color(foregroundRole()));
    p.setClipRect(r);
    layout.draw(&p, QPointF(r.left(), r.top() + std::max<qreal>(0, (r.height() - height) / 2)));
}
