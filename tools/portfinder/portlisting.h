#pragma once

#include "link/portnaming.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// What the port finder knows about one port number: the device the panel would open for
// it, and what is there.
struct PortEntry {
    enum class Chip {
        NotProbed,  // not opened: a USB node, or nothing there
        Fitted,     // a UART answers behind the node
        Unfitted,   // the node exists but no UART is behind it
        Unreadable, // the node could not be opened
    };

    int number = 0;
    QString device; // empty: the number names no port
    bool present = false;
    QString description;
    QString manufacturer;
    QString serialNumber;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
    Chip chip = Chip::NotProbed;
    int openError = 0; // errno of probing's open, where it failed
    // Why the user may not open the node, with the fix; empty when they may.
    QString accessTrouble;
};

// What probing a ttyS node found: whether a UART is behind it (none: cannot tell), and the
// errno of the open where it failed. A node the user may not open can still be told fitted
// or not from the system's own record of the port.
struct NodeProbe {
    NodeProbe(std::optional<bool> fitted = std::nullopt, int error = 0)
        : fitted(fitted), error(error)
    {
    }
    NodeProbe(bool fitted) : fitted(fitted) {}
    std::optional<bool> fitted;
    int error = 0;
};

// The serial ports the system reports (from QSerialPortInfo), as plain values.
struct SystemPort {
    QString portName; // ttyUSB0, COM3
    QString systemLocation;
    QString description;
    QString manufacturer;
    QString serialNumber;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
};

struct PortSources {
    PortNaming naming;
    QList<SystemPort> systemPorts;
    std::function<bool(const QString &)> present;                // whether a device exists
    std::function<NodeProbe(const QString &)> probe;             // SerialNode::probe
    QList<int> linkNumbers;                                      // N of each ports/comN
    // Why the user may not open a present device, with the fix; empty when they may (or
    // where no one tells).
    std::function<QString(const QString &)> accessTrouble;
};

// One entry per port number the panel understands (1 to 96, any number with a link beside
// the panel, any COMn the system reports), in ascending order; only present devices
// unless `all`. Only ttyS nodes are probed: opening a USB node asserts DTR, which resets
// most boards.
QList<PortEntry> listPorts(const PortSources &sources, bool all);

// The N of each ports/comN entry in folder/ports.
QList<int> linkNumbersIn(const QString &folder);

// The n of a name COMn (either case), or 0 for anything else (LPT1, COM0).
int comNumber(const QString &name);

// Windows' COM ports from its two lists, one entry each, in the lists' order: the Ports
// device class, where a port's description is the name its driver gives it ("USB-SERIAL
// CH340 (COM5)"), and the serial-device map, which also has ports whose driver registers no
// device (Wine fills only this one), described by their device ("\Device\Serial2"). The
// driver's name wins where both have a port; other ports of the class (LPT1) are left out.
QList<SystemPort> mergeComPorts(const QList<SystemPort> &portsClass,
                                const QList<SystemPort> &deviceMap);

// The port the panel's settings file names, marked in the listing.
struct SettingsMark {
    int port = 0;   // 0: none
    QString source; // where the settings come from: "pwmpanel.ini"
};

// One line per entry, for the terminal. The marked port's line says so; a marked port that
// is not among the entries gets a line of its own after them.
QString formatPorts(const QList<PortEntry> &entries, const SettingsMark &mark = {});
