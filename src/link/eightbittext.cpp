#include "eightbittext.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace EightBitText {

#ifdef Q_OS_WIN

QString decode(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

QByteArray encode(QStringView text)
{
    QStringEncoder encoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

bool representable(QStringView text)
{
    QStringEncoder encoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder.encode(text);
    return !encoder.hasError() && decode(bytes) == text;
}

#else

QString decode(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

QByteArray encode(QStringView text)
{
    return text.toLatin1();
}

bool representable(QStringView text)
{
    for (const QChar c : text)
        if (c.unicode() > 0xff)
            return false;
    return true;
}

#endif

QString visible(QByteArrayView bytes)
{
    QString text = decode(bytes);
    for (QChar &c : text) {
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode()); // the control's own symbol
        else if (c.unicode() == 0x7F)
            c = QChar(0x2421);
    }
    return text;
}

} // namespace EightBitText
