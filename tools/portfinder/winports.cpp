#include "winports.h"

#include <QTextStream>

#include <windows.h>
// After windows.h:
#include <devguid.h>
#include <setupapi.h>

#include <cstdio>

namespace
{

QString fromWide(const wchar_t *text)
{
    return QString::fromWCharArray(text);
}

// The Ports class: COM and LPT ports with a device, each with its driver's name for it.
QList<SystemPort> portsClass()
{
    QList<SystemPort> out;
    const HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return out;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        wchar_t portName[64] = {};
        const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        DWORD size = sizeof portName - sizeof(wchar_t);
        DWORD type = 0;
        const LONG rc = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                         reinterpret_cast<BYTE *>(portName), &size);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        wchar_t name[256] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE *>(name),
                                               sizeof name - sizeof(wchar_t), nullptr))
            SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_DEVICEDESC, nullptr,
                                              reinterpret_cast<BYTE *>(name),
                                              sizeof name - sizeof(wchar_t), nullptr);
        SystemPort p;
        p.portName = fromWide(portName);
        p.description = fromWide(name);
        out.append(p);
    }
    SetupDiDestroyDeviceInfoList(set);
    return out;
}

// The serial-device map: one value a port, its device ("\Device\Serial2") naming its COM name.
QList<SystemPort> deviceMap()
{
    QList<SystemPort> out;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return out;
    for (DWORD i = 0;; ++i) {
        wchar_t device[256] = {};
        wchar_t portName[64] = {};
        DWORD deviceSize = std::size(device) - 1;
        DWORD portSize = sizeof portName - sizeof(wchar_t);
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, i, device, &deviceSize, nullptr, &type,
                                      reinterpret_cast<BYTE *>(portName), &portSize);
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS)
            break;
        if (type != REG_SZ)
            continue;
        SystemPort p;
        p.portName = fromWide(portName);
        p.systemLocation = fromWide(device);
        out.append(p);
    }
    RegCloseKey(key);
    return out;
}

} // namespace

QList<SystemPort> windowsComPorts()
{
    return mergeComPorts(portsClass(), deviceMap());
}

bool consoleClosesAtExit()
{
    DWORD processes[2];
    DWORD mode = 0;
    return GetConsoleProcessList(processes, 2) == 1 &&
           GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

void waitForEnter()
{
    QTextStream(stdout) << "\nPress Enter to close this window." << Qt::flush;
    std::getchar();
}

Utf8Console::Utf8Console() : m_codePage(GetConsoleOutputCP())
{
    SetConsoleOutputCP(CP_UTF8);
}

Utf8Console::~Utf8Console()
{
    if (m_codePage != 0)
        SetConsoleOutputCP(m_codePage);
}
