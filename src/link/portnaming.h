#pragma once

#include <QString>

// Maps the settings' port number to a device path.
//
// On Linux, port n is whatever `ports/comN` beside the executable points to when that link
// (or file) exists; otherwise 1..32 are /dev/ttyS0..31, 33..64 /dev/ttyUSB0..31 and
// 65..96 /dev/ttyACM0..31. On Windows port n is COMn. An empty result names no usable port.
class PortNaming
{
public:
    static constexpr int PerRange = 32;
    static constexpr int HighestFixed = 3 * PerRange; // the last number of the fixed table

    explicit PortNaming(QString executableDir);

    QString deviceFor(int number) const;
    QString linkPathFor(int number) const; // <dir>/ports/com<number>, whether or not it exists

private:
    QString m_dir;
};
