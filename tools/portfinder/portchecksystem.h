#pragma once

#include "portcheck.h"

// The running system as `pwmports --check` sees it: stat and access(2) on the node, the
// password and group databases, /proc, the lock file folders, /sys/bus/usb and the udev
// rules folders. Reads only. Outside Linux every look-up finds nothing.
PortCheckSystem currentPortCheckSystem();
