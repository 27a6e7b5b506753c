// kalvosan-cli ports and the bash completion, run against a sysfs and /dev of the test's own:
// two identical FTDI adapters, a Pico on cdc_acm and a UART on the platform bus, ptys behind
// their nodes.
#include "serial/serial_port.h"
#include "tests/fake_sysfs.h"
#include "tests/test_cli_support.h"
#include "tests/test_serial_fixture.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>
#include <vector>

namespace {

using namespace testsupport;

class CliPorts : public CliProcessTest {
protected:
    void SetUp() override {
        CliProcessTest::SetUp();
        ASSERT_TRUE(addBench(m_tree, {m_pty.slavePath(), m_usb1.slavePath(), m_acm0.slavePath(),
                                      m_uart.slavePath()}));
        QProcessEnvironment environment = m_process.processEnvironment();
        m_tree.addTo(environment);
        m_process.setProcessEnvironment(environment);
    }
    // Counts the opens of every port of the bench from here on.
    void watchOpens() {
        for (const Pty *pty : {&m_pty, &m_usb1, &m_acm0, &m_uart})
            m_opens.push_back(std::make_unique<serialtest::OpenWatch>(pty->slavePath()));
    }
    int opens() {
        int count = 0;
        for (const auto &watch : m_opens)
            count += watch->count();
        return count;
    }

    FakeSysfs m_tree;
    Pty m_usb1, m_acm0, m_uart; // ttyUSB0 is m_pty
    std::vector<std::unique_ptr<serialtest::OpenWatch>> m_opens;
};

// The test holds the first adapter by its stable name: the lock is the device's, so the
// listing names the test as its holder under /dev/ttyUSB0 and the scan leaves it out.
TEST_F(CliPorts, ListsEveryDeviceFromSysfsWithoutOpeningAny) {
    serial::SerialPort held;
    ASSERT_TRUE(held.open(m_tree.dev() + "/serial/by-id/" + kFirstFtdi));
    watchOpens();

    ASSERT_EQ(run({"ports", "--json"}), 0) << m_err.constData();
    QJsonParseError error;
    const QJsonArray devices = QJsonDocument::fromJson(m_out, &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << m_out.constData();
    ASSERT_EQ(devices.size(), 4) << "ttyS1 has no UART: " << m_out.constData();
    const QString dev = m_tree.dev();
    const QJsonArray links{dev + "/serial/by-id/" + kFirstFtdi,
                           dev + "/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0"};
    const QJsonObject first{{"path", dev + "/ttyUSB0"},
                            {"com", QJsonValue()},
                            {"links", links},
                            {"driver", "ftdi_sio"},
                            {"vid", "0403"},
                            {"pid", "6001"},
                            {"manufacturer", "FTDI"},
                            {"product", "FT232R USB UART"},
                            {"serial", "A50285BI"},
                            {"interface", 0},
                            {"lockedBy", int(::getpid())}};
    const QJsonObject uart{
        {"path", dev + "/ttyS0"},       {"com", "COM1"},           {"links", QJsonArray()},
        {"driver", "serial8250"},       {"vid", QJsonValue()},     {"pid", QJsonValue()},
        {"manufacturer", QJsonValue()}, {"product", QJsonValue()}, {"serial", QJsonValue()},
        {"interface", QJsonValue()},    {"lockedBy", QJsonValue()}};
    EXPECT_EQ(devices[2].toObject(), first) << m_out.constData();
    EXPECT_EQ(devices[1].toObject(), uart) << m_out.constData();
    EXPECT_EQ(devices[0].toObject()["driver"], "cdc_acm");
    EXPECT_EQ(devices[3].toObject()["serial"], "A50285BJ");
    EXPECT_TRUE(devices[3].toObject()["lockedBy"].isNull());
    for (const QJsonValue &device : devices)
        EXPECT_EQ(device.toObject().keys(), first.keys());

    ASSERT_EQ(run({"ports", "--long"}), 0) << m_err.constData();
    const QString lockFile = qEnvironmentVariable("KALVOSAN_LOCK_DIR") + "/LCK..pts_" +
                             QFileInfo(m_pty.slavePath()).fileName();
    const QString block = QString("%1/ttyUSB0\n"
                                  "  product       FT232R USB UART\n"
                                  "  manufacturer  FTDI\n"
                                  "  usb id        0403:6001\n"
                                  "  serial        A50285BI\n"
                                  "  interface     0\n"
                                  "  driver        ftdi_sio\n"
                                  "  link          %2\n"
                                  "  link          %3\n"
                                  "  locked by     PID %4 (%5)\n\n")
                              .arg(dev, links[0].toString(), links[1].toString())
                              .arg(::getpid())
                              .arg(lockFile);
    EXPECT_TRUE(m_out.contains(block.toLocal8Bit())) << m_out.constData();
    EXPECT_TRUE(
        m_out.contains(dev.toLocal8Bit() + "/ttyS0 (COM1)\n  driver        serial8250\n\n"));
    EXPECT_EQ(opens(), 0) << "listing opened a port";

    // The plain list probes the tree's ports (COM1 is its ttyS0), and skips the held one.
    ASSERT_EQ(run({"ports"}), 0) << m_err.constData();
    EXPECT_EQ(m_out, "COM1\nttyACM0\nttyUSB1\n");
    EXPECT_EQ(run({"ports", "--long", "--json"}), 2);
}

// A user outside the devices' group: an empty list says why, and an open names who may open it.
TEST_F(CliPorts, AUserWhoMayNotOpenThePortsIsToldWhy) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the program as another user";
    // The program and the tree where any user may reach them, as /usr/bin, sysfs and /dev are
    // (the build tree may lie in root's home); the lock folder stays the test's own.
    const auto openToAll = [](const QString &path) {
        return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther | QFile::ExeOther);
    };
    const QString program = m_dir.filePath("kalvosan-cli");
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationDirPath() + "/kalvosan-cli", program));
    ASSERT_TRUE(openToAll(m_dir.path()) && openToAll(program));
    ASSERT_TRUE(openToAll(QFileInfo(m_tree.dev()).path()));
    QProcessEnvironment environment = m_process.processEnvironment();
    environment.insert("XDG_CONFIG_HOME", "/nonexistent");
    m_process.setProcessEnvironment(environment);
    const QStringList asNobody{"--reuid=65534", "--regid=65534", "--clear-groups", program};
    m_process.start("setpriv", asNobody + QStringList{"ports"});
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(m_out, "");
    // The ptys behind the nodes are root's alone (mode 600).
    EXPECT_TRUE(m_err.contains("warning: " + m_tree.dev().toLocal8Bit() +
                               "/ttyUSB0: Permission denied (only its owner, root, may open it)"))
        << m_err.constData();
    m_process.start("setpriv", asNobody + QStringList{"capture", "ttyUSB0", "--dir", "/tmp"});
    ASSERT_EQ(finish(), 1);
    EXPECT_TRUE(m_err.contains("Could not open port ttyUSB0: Permission denied (only its owner, "
                               "root, may open it)"))
        << m_err.constData();
}

// A COM name is looked up in the device folder the program is given.
TEST_F(CliPorts, ComNamesAreTheTreesPorts) {
    writeFile(path("hello.bin"), "hello");
    start({"send", "COM1", path("hello.bin"), "--delay", "-1"});
    EXPECT_EQ(m_uart.read(5), "hello");
    EXPECT_EQ(finish(), 0) << m_err.constData();
}

// Link names are the device's, as its product string is: cleaned for the terminal (one line a
// name, no escape sequence), and exact in JSON.
TEST_F(CliPorts, NamesAreCleanedForTheTerminalAndExactInJson) {
    ASSERT_TRUE(m_tree.stableLink("by-id", "usb-\x1b[31mred", "ttyACM0"));
    ASSERT_TRUE(m_tree.stableLink("by-id", "usb-two\nlines", "ttyACM0"));
    const QString byId = m_tree.dev() + "/serial/by-id/";
    for (const char *listing : {"--names", "--long"}) {
        ASSERT_EQ(run({"ports", listing}), 0) << m_err.constData();
        EXPECT_FALSE(m_out.contains('\x1b')) << listing;
        EXPECT_TRUE(m_out.contains((byId + "usb-?[31mred\n").toUtf8())) << m_out.constData();
        EXPECT_TRUE(m_out.contains((byId + "usb-two?lines\n").toUtf8())) << m_out.constData();
    }
    ASSERT_EQ(run({"ports", "--json"}), 0) << m_err.constData();
    EXPECT_TRUE(QJsonDocument::fromJson(m_out).toJson().contains("usb-two\\nlines"))
        << m_out.constData();
}

// The completion file as bash-completion loads it, with the program on the PATH: commands,
// a command's options, port names from the listing (no port opened) and files.
TEST_F(CliPorts, BashCompletesCommandsOptionsPortsAndFiles) {
    writeFile(path("firmware.bin"), "x");
    // Names the device's maker chose: never run, never split.
    ASSERT_TRUE(m_tree.stableLink("by-id", "usb-$(touch${IFS}PWNED)", "ttyACM0"));
    ASSERT_TRUE(m_tree.stableLink("by-id", "usb-with blank", "ttyACM0"));
    watchOpens();
    const QString script = QStringLiteral(R"(
        source /usr/share/bash-completion/bash_completion || exit 3
        source "$1" || exit 3
        PATH=$2:$PATH
        complete_words() {
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
            COMPREPLY=(); _kalvosan_cli kalvosan-cli "${COMP_WORDS[COMP_CWORD]}"
            printf '%s|' "${COMPREPLY[@]}"; echo
        }
        complete_words kalvosan-cli ''
        complete_words kalvosan-cli capture --b
        complete_words kalvosan-cli send --baud 9600 "$3/serial/by-id/usb-FTDI"
        complete_words kalvosan-cli send CO
        complete_words kalvosan-cli send COM1 "$4/fir"
        complete_words kalvosan-cli capture COM1 --dir "$4/fir"
        complete_words kalvosan-cli capture "$3/serial/by-id/usb-"
        complete_words kalvosan-cli capture COM1 --dtr ''
    )");
    QProcess bash;
    bash.setProcessEnvironment(m_process.processEnvironment());
    bash.setWorkingDirectory(m_dir.path());
    bash.start("bash", {"-c", script, "bash", KALVOSAN_COMPLETION,
                        QCoreApplication::applicationDirPath(), m_tree.dev(), m_dir.path()});
    ASSERT_TRUE(bash.waitForFinished(60000));
    ASSERT_EQ(bash.exitCode(), 0) << bash.readAllStandardError().constData();
    const QStringList lines = QString::fromLocal8Bit(bash.readAllStandardOutput()).split('\n');
    ASSERT_GE(lines.size(), 8) << lines.join('\n').toStdString();
    const QString byId = m_tree.dev() + "/serial/by-id/";
    for (const char *command : {"ports", "capture", "send", "hex"})
        EXPECT_TRUE(lines[0].split('|').contains(command)) << lines[0].toStdString();
    EXPECT_EQ(lines[1], "--baud|--bytes|");
    EXPECT_EQ(lines[2], byId + kFirstFtdi + '|' + byId + kSecondFtdi + '|');
    EXPECT_EQ(lines[3], "COM1|");
    EXPECT_EQ(lines[4], path("firmware.bin") + '|');
    EXPECT_EQ(lines[5], "|") << "a directory is asked for, not a file";
    const QStringList offered = lines[6].split('|');
    EXPECT_TRUE(offered.contains(byId + "usb-with\\ blank")) << lines[6].toStdString();
    EXPECT_TRUE(offered.contains(byId + "usb-\\$\\(touch\\$\\{IFS\\}PWNED\\)"))
        << lines[6].toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("PWNED"))) << "completing ran a command in a name";
    EXPECT_EQ(lines[7], "on|off|");
    EXPECT_EQ(opens(), 0) << "completing opened a port";
}

} // namespace
