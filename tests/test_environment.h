// Made before a test program's application: its settings and the UUCP lock files of the ports
// it opens go to folders of its own, never the user's settings or the system's /run/lock.
#pragma once

#include <QTemporaryDir>
#include <QtGlobal>

namespace testsupport {

class TestEnvironment {
public:
    TestEnvironment() {
        qputenv("XDG_CONFIG_HOME", m_configHome.path().toLocal8Bit());
        qputenv("KALVOSAN_LOCK_DIR", m_lockDir.path().toLocal8Bit());
    }

private:
    QTemporaryDir m_configHome;
    QTemporaryDir m_lockDir;
};

} // namespace testsupport
