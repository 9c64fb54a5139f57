#include "valuelabel.h"

#include <QPainter>
#include <QTextLayout>

ValueLabel::ValueLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    m_nameUpdate.setSingleShot(true);
    m_nameUpdate.setInterval(250);
    connect(&m_nameUpdate, &QTimer::timeout, this, &ValueLabel::endQuietInterval);
}

// The first change after a quiet spell is published at once; changes that follow within the
// interval wait for its end, when only the latest text is published.
void ValueLabel::setValue(const QString &text)
{
    setText(text);
    if (m_nameUpdate.isActive()) {
        m_namePending = true;
        return;
    }
    publishName();
    m_nameUpdate.start();
}

void ValueLabel::publishName()
{
    m_namePending = false;
    if (accessibleName() != text())
        setAccessibleName(text());
}

void ValueLabel::endQuietInterval()
{
    if (!m_namePending)
        return;
    publishName();
    m_nameUpdate.start();
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
    int shown = 0;      // lines that fit whole
    qsizetype cut = -1; // where the text no longer fits, if it does not
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(r.width());
        if (shown > 0 && height + line.height() > r.height()) {
            cut = line.textStart();
            break;
        }
        line.setPosition(QPointF(0, height));
        height += line.height();
        ++shown;
    }
    layout.endLayout();
    p.setPen(palette().color(foregroundRole()));
    p.setClipRect(r);
    const QPointF origin(r.left(), r.top() + std::max<qreal>(0, (r.height() - height) / 2));
    if (cut < 0) {
        layout.draw(&p, origin);
        return;
    }
    // Too long for the label: the last line shown ends in an ellipsis.
    for (int i = 0; i + 1 < shown; ++i)
        layout.lineAt(i).draw(&p, origin);
    const QTextLine last = layout.lineAt(shown - 1);
    const QString rest = text().mid(last.textStart());
    const QRectF lastRect(origin + last.position(), QSizeF(r.width(), last.height()));
    p.drawText(lastRect, (alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter,
               fontMetrics().elidedText(rest, Qt::ElideRight, r.width()));
}
