#include "portlisting.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cstring>

int comNumber(const QString &name)
{
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,8})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = com.match(name);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

QList<SystemPort> mergeComPorts(const QList<SystemPort> &portsClass,
                                const QList<SystemPort> &deviceMap)
{
    QList<SystemPort> out;
    QSet<int> seen;
    for (const QList<SystemPort> *list : {&portsClass, &deviceMap}) {
        for (SystemPort p : *list) {
            const int n = comNumber(p.portName);
            if (n == 0 || seen.contains(n))
                continue;
            seen.insert(n);
            if (p.description.isEmpty())
                p.description = p.systemLocation;
            out.append(p);
        }
    }
    return out;
}

QList<PortEntry> listPorts(const PortSources &sources, bool all)
{
    QSet<int> numbers;
    for (int n = 1; n <= PortNaming::HighestFixed; ++n)
        numbers.insert(n);
    for (int n : sources.linkNumbers)
        numbers.insert(n);
    for (const SystemPort &p : sources.systemPorts)
        if (const int n = comNumber(p.portName))
            numbers.insert(n);
    QList<int> sorted(numbers.begin(), numbers.end());
    std::sort(sorted.begin(), sorted.end());

    QList<PortEntry> out;
    for (int n : sorted) {
        PortEntry e;
        e.number = n;
        e.device = sources.naming.deviceFor(n);
        e.present = !e.device.isEmpty() && sources.present(e.device);
        if (!e.present && !all)
            continue;
        for (const SystemPort &p : sources.systemPorts) {
            if (p.systemLocation != e.device && p.portName != e.device)
                continue;
            e.description = p.description;
            e.manufacturer = p.manufacturer;
            e.serialNumber = p.serialNumber;
            e.vendorId = p.vendorId;
            e.productId = p.productId;
        }
        if (e.present && QFileInfo(e.device).fileName().startsWith(QLatin1String("ttyS"))) {
            const NodeProbe probe = sources.probe(e.device);
            e.chip = !probe.fitted   ? PortEntry::Chip::Unreadable
                     : *probe.fitted ? PortEntry::Chip::Fitted
                                     : PortEntry::Chip::Unfitted;
            e.openError = probe.error;
        }
        if (e.present && sources.accessTrouble)
            e.accessTrouble = sources.accessTrouble(e.device);
        out.append(e);
    }
    return out;
}

QList<int> linkNumbersIn(const QString &folder)
{
    static const QRegularExpression com(QStringLiteral("^com([1-9][0-9]{0,8})$"));
    QList<int> out;
    const QDir ports(folder + QLatin1String("/ports"));
    const QStringList names = ports.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QRegularExpressionMatch m = com.match(name);
        if (m.hasMatch())
            out.append(m.captured(1).toInt());
    }
    return out;
}

QString formatPorts(const QList<PortEntry> &entries, const SettingsMark &mark)
{
    QString out = QStringLiteral("Port  Device               What is there\n");
    bool marked = false;
    for (const PortEntry &e : entries) {
        QStringList what;
        if (e.device.isEmpty()) {
            what << QStringLiteral("names no port");
        } else if (!e.present) {
            what << QStringLiteral("no such device");
        } else {
            if (!e.description.isEmpty())
                what << e.description;
            if (!e.manufacturer.isEmpty())
                what << QStringLiteral("made by ") + e.manufacturer;
            if (e.vendorId && e.productId)
                what << QStringLiteral("USB %1:%2")
                            .arg(*e.vendorId, 4, 16, QLatin1Char('0'))
                            .arg(*e.productId, 4, 16, QLatin1Char('0'));
            if (!e.serialNumber.isEmpty())
                what << QStringLiteral("serial number ") + e.serialNumber;
            switch (e.chip) {
            case PortEntry::Chip::Fitted:
                what << (e.openError ? QStringLiteral("a UART is fitted")
                                     : QStringLiteral("a UART answers"));
                break;
            case PortEntry::Chip::Unfitted: what << QStringLiteral("no UART behind it"); break;
            case PortEntry::Chip::Unreadable:
                what << (e.openError && e.accessTrouble.isEmpty()
                             ? QStringLiteral("cannot be opened (%1)")
                                   .arg(QString::fromLocal8Bit(std::strerror(e.openError)))
                             : QStringLiteral("cannot be opened"));
                break;
            case PortEntry::Chip::NotProbed:
                if (e.vendorId)
                    what << QStringLiteral("not opened (opening resets most boards)");
                break;
            }
            if (!e.accessTrouble.isEmpty() && e.chip != PortEntry::Chip::Unfitted)
                what << QStringLiteral("you may not open it: ") + e.accessTrouble;
            if (what.isEmpty())
                what << QStringLiteral("present");
        }
        if (mark.port != 0 && e.number == mark.port) {
            what << QStringLiteral("the settings' port (%1)").arg(mark.source);
            marked = true;
        }
        out += QStringLiteral("%1  %2 %3\n")
                   .arg(e.number, 4)
                   .arg(e.device.isEmpty() ? QStringLiteral("-") : e.device, -20)
                   .arg(what.join(QLatin1String("; ")));
    }
    if (mark.port != 0 && !marked)
        out += QStringLiteral("The settings' port, %1 (%2), is not there: the panel shows "
                              "Invalid Port Number! until the board is plugged in there, or the "
                              "number is changed (Set, COM box).\n")
                   .arg(mark.port)
                   .arg(mark.source);
    return out;
}
