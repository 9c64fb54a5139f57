#pragma once

#include <QString>

#include <optional>

// Whether a serial device node has a UART behind it. Linux creates a ttyS node for every
// port its 8250 driver may drive; an unfitted one opens fine, but reports type PORT_UNKNOWN
// and fails every modem-line call with EIO. Anything we cannot tell counts as fitted, so a
// pseudo-terminal or a USB adapter is never turned away.
namespace SerialNode {

// On a descriptor the caller has open (QSerialPort::handle()).
bool hasChip(qintptr handle);

// Opens the node itself, without becoming its controlling terminal and without waiting for
// carrier. Empty when the node cannot be opened at all, with the errno in *error if given.
std::optional<bool> probe(const QString &devicePath, int *error = nullptr);

} // namespace SerialNode
