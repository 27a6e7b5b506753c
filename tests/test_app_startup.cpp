// The real program as a child process: start-up with and without its library, and the end
// by SIGTERM.
#include "tests/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

QString programPath() {
    return QCoreApplication::applicationDirPath() + "/kalvosan";
}

QProcessEnvironment childEnvironment(const QString &configHome) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("KALVOSAN_NONINTERACTIVE", "1");
    env.insert("XDG_CONFIG_HOME", configHome);
    return env;
}

TEST(StartupTest, WithoutItsLibraryTheProgramSaysSoAndEndsWithCode1) {
    QTemporaryDir programDir;
    QTemporaryDir configHome;
    const QString copy = programDir.path() + "/kalvosan";
    ASSERT_TRUE(QFile::copy(programPath(), copy));
    QProcess child;
    child.setProcessEnvironment(childEnvironment(configHome.path()));
    // Started from the directory that does hold the library: it must not be taken from there.
    child.setWorkingDirectory(QCoreApplication::applicationDirPath());
    child.start(copy, {});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(child.readAllStandardError());
    EXPECT_TRUE(err.contains("Kalvosan: Could not find " + programDir.path() +
                             "/libkalvosan.so..Aborting.."))
        << err.toStdString();
    EXPECT_TRUE(
        QDir(configHome.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST(StartupTest, SigtermEndsTheProgramCleanlyAndSavesTheSettings) {
    QTemporaryDir configHome;
    QProcess child;
    child.setProcessEnvironment(childEnvironment(configHome.path()));
    child.start(programPath(), {});
    ASSERT_TRUE(child.waitForStarted());
    // Give it time to show its window, then ask it to end.
    QThread::msleep(1500);
    ::kill(child.processId(), SIGTERM);
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
    QSettings saved(configHome.path() + "/Brisgal/Kalvosan.conf", QSettings::IniFormat);
    EXPECT_EQ(saved.value("Settings/port").toString(), "COM3");
    EXPECT_EQ(saved.value("Settings/delay").toString(), "-1");
}

} // namespace
