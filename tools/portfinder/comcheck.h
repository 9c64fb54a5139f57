#pragma once

#include "boardfinder.h"
#include "portcheck.h"
#include "portlisting.h"

#include <functional>
#include <optional>

class SerialControl;

// `pwmports --check` on Windows: for each COM port, whether Windows lists it, whether
// another program holds it and what the panel's status line shows there. Only opening a
// port tells whether it is held, so each is opened for a moment as the panel opens it;
// nothing is written.

// Opens port `number` as the panel's search does (the settings' speed, 8N1, no handshake)
// and closes it again: 0, or the code the panel would show.
int openAsThePanel(SerialControl &serial, int number, const QString &baud);

// Checks port `number`, or every listed port and the settings' port. `open` is
// openAsThePanel on the real port.
PortCheckReport checkComPorts(const QList<SystemPort> &listed,
                              const std::function<int(int number)> &open,
                              const PanelSettings &settings, std::optional<int> number);
