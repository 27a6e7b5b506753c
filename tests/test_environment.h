// Made before a test program's application: its settings and the UUCP lock files of the ports
// it opens go to folders of its own, never the user's settings or the system's /run/lock; its
// port names and scans look in a sysfs and /dev of its own (empty until a test fills one), never
// at the machine's serial ports, the first of which is often the console; and its ptys are its
// own, out of reach of the machine's other programs.
#pragma once

#include "tests/fake_sysfs.h"
#include "tests/test_pty.h"

#include <QTemporaryDir>
#include <QtGlobal>

namespace testsupport {

class TestEnvironment {
public:
    TestEnvironment() {
        usePrivatePseudoTerminals();
        qputenv("XDG_CONFIG_HOME", m_configHome.path().toLocal8Bit());
        qputenv("KALVOSAN_LOCK_DIR", m_lockDir.path().toLocal8Bit());
        qputenv("KALVOSAN_SYSFS_TTY_DIR", m_devices.sys().toLocal8Bit());
        qputenv("KALVOSAN_DEV_DIR", m_devices.dev().toLocal8Bit());
    }

private:
    QTemporaryDir m_configHome;
    QTemporaryDir m_lockDir;
    FakeSysfs m_devices;
};

} // namespace testsupport
