// The serial devices the kernel knows, read from sysfs without opening any of them (an open of
// a tty raises its DTR and RTS): each device's path, COM name, stable links, driver and, for
// USB, the adapter's ids and strings. The roots are parameters, so that tests build a tree.
#pragma once

#include "serial/port_names.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace serial {

// What sysfs says of one device. A USB device names itself, so its texts are outside input:
// read with a bound, trimmed, control characters replaced by '?'. Empty where sysfs gives
// nothing.
struct DeviceInfo {
    QString name;      // ttyUSB0
    QString path;      // <devRoot>/ttyUSB0
    QString com;       // COM1 for ttyS0, else empty
    QStringList links; // <devRoot>/serial/by-id/... then by-path/..., that resolve to path
    QString driver;    // ftdi_sio, cdc_acm, serial8250
    QString vid;       // the USB device's idVendor and idProduct, four hex digits
    QString pid;
    QString manufacturer;
    QString product;
    QString serial;
    std::optional<int> interfaceNumber; // the USB interface the tty belongs to
};

// Every tty under sysClassTty with a device behind it, in natural order of the names. A port
// the serial core reports as type 0 (no UART there: most of ttyS0 to ttyS31) is left out. The
// stable links are read once for the whole listing.
QList<DeviceInfo> listDevices(const QString &sysClassTty = sysfsTtyDirectory(),
                              const QString &devRoot = deviceDirectory());

// "FT232R USB UART - FTDI (0403:6001, serial A50285BI) - /dev/serial/by-id/usb-FTDI_...":
// what the device is, then its first stable name (else its path).
QString describeDevice(const DeviceInfo &device);

// The description of the device a port name stands for (COM1, ttyUSB0); the path alone where
// the listing does not have it.
QString describePort(const QString &portName, const QList<DeviceInfo> &devices,
                     const QString &devRoot = deviceDirectory());

} // namespace serial
