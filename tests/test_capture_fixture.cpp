#include "tests/test_capture_fixture.h"
#include "res/control_ids.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

void CaptureTest::SetUp() {
    ASSERT_TRUE(dropDir.isValid());
    dialog = testsupport::startedDialog();
    ASSERT_TRUE(dialog);
    setPort(pty.slavePath());
    setDropDirectory(dropDir.path());
}

void CaptureTest::TearDown() {
    dialog.reset();
}

void CaptureTest::setPort(const QString &name) {
    dialog->itemAs<QComboBox>(ctl::Port)->setEditText(name);
}

void CaptureTest::setFileName(const QString &name) {
    dialog->itemAs<QLineEdit>(ctl::CaptureFile)->setText(name);
}

void CaptureTest::setDropDirectory(const QString &dir) {
    dialog->itemAs<QLineEdit>(ctl::DropDirectory)->setText(dir);
}

void CaptureTest::clickStart() {
    QTest::mouseClick(dialog->item(ctl::Start), Qt::LeftButton);
    // The name the capture used: it may have moved on from the one shown before.
    m_capturePath = controlsPath();
}

void CaptureTest::clickStop() {
    QTest::mouseClick(dialog->item(ctl::Stop), Qt::LeftButton);
}

QString CaptureTest::controlsPath() const {
    return dialog->itemAs<QLineEdit>(ctl::DropDirectory)->text() + u'/' +
           dialog->itemAs<QLineEdit>(ctl::CaptureFile)->text();
}

qint64 CaptureTest::fileSize() const {
    return QFileInfo(path()).size();
}

void CaptureTest::syncWithWorker() {
    const qint64 before = fileSize();
    for (int attempt = 0; attempt < 20; ++attempt) {
        pty.write(QByteArray(1, kSync));
        if (testsupport::waitUntil([&] { return fileSize() > before; }, 500))
            return;
    }
    FAIL() << "the worker never wrote a byte";
}

void CaptureTest::syncUntilAMessage() {
    for (int i = 0; i < 20 && messages.messages().empty(); ++i) {
        pty.write(QByteArray(1, kSync));
        testsupport::waitUntil([&] { return !messages.messages().empty(); }, 500);
    }
}

QByteArray CaptureTest::payloadInFile(qsizetype headerSize) const {
    QByteArray bytes = testsupport::readFile(path()).mid(headerSize);
    qsizetype syncBytes = 0;
    while (syncBytes < bytes.size() && bytes.at(syncBytes) == kSync)
        ++syncBytes;
    EXPECT_GE(syncBytes, 1) << "no sync byte in the file";
    return bytes.mid(syncBytes);
}

void CaptureTest::sendAndWait(const QByteArray &bytes) {
    const qint64 target = fileSize() + bytes.size();
    pty.write(bytes);
    ASSERT_TRUE(testsupport::waitUntil([&] { return fileSize() >= target; }, 20000))
        << fileSize() << " of " << target;
}

bool CaptureTest::capturing() const {
    return dialog->item(ctl::Stop)->isEnabled() && !dialog->item(ctl::Start)->isEnabled();
}
