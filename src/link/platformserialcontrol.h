#pragma once

// The serial control the program runs on: its own over Win32 on Windows, Qt SerialPort
// elsewhere.
#include <QtGlobal>

#ifdef Q_OS_WIN
#include "winserialcontrol.h"
using PlatformSerialControl = WinSerialControl;
#else
#include "qtserialcontrol.h"
using PlatformSerialControl = QtSerialControl;
#endif
