#pragma once

#include "portlisting.h"

// The COM ports in Windows' own lists: the Ports device class (SetupAPI) with the name each
// driver gives its port, and the serial-device map in the registry
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), merged by mergeComPorts. No port is opened.
QList<SystemPort> windowsComPorts();

// Whether the console is this program's own and reads the keyboard: started from Explorer,
// not from a command prompt or with its input redirected. Its window closes when the
// program ends, so the program waits for Enter first.
bool consoleClosesAtExit();
void waitForEnter();

// While it lives, the console shows what is printed as UTF-8, so names in any script come
// out whole; the console's code page is put back afterwards (a command prompt shares it).
class Utf8Console
{
public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console &) = delete;
    Utf8Console &operator=(const Utf8Console &) = delete;

private:
    unsigned m_codePage;
};
