// The editor pane with a full-size file (32,736 lines) loaded through the real libkalvosan.so
// into a real TerminalDialog. Prints the resident memory before and after the load, and the
// medians of 21 runs of each interaction (the paint that follows included), target < 16 ms:
//  1. scroll to the end and open the cell editor on the last line;
//  2. type one byte there (two hex digits);
//  3. type one byte on the ASCII side.
#include "app/terminal_dialog.h"
#include "bench/bench_stats.h"
#include "hexedit/editor_pane.h"
#include "hexedit/hex_cell_edit.h"
#include "hexedit/hex_list_box.h"
#include "loader/hexline.h"
#include "res/control_ids.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRuns = 21;

long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Lets the posted work of an interaction run, the repaint included.
void flush() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

void report(const char *name, const std::vector<double> &ms, double targetMs) {
    bench::report(name, ms, targetMs, 52);
}

std::vector<double> timeRuns(const std::function<void()> &prepare,
                             const std::function<void()> &interaction) {
    std::vector<double> ms;
    for (int i = 0; i < kRuns + 1; ++i) { // the first run warms up
        prepare();
        flush();
        QElapsedTimer timer;
        timer.start();
        interaction();
        flush();
        if (i > 0)
            ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    return ms;
}

void typeKey(QWidget *target, Qt::Key key, const QString &text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &release);
}

bool loadFullFile(TerminalDialog &dialog, const QString &path) {
    QByteArray bytes(hexline::kLoaderByteLimit, Qt::Uninitialized);
    QRandomGenerator gen(7);
    for (char &c : bytes)
        c = static_cast<char>(gen.bounded(256));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (dialog.hexList()->count() >= hexline::kLoaderLineLimit)
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    dialog.editorPane()->loadFile(path);
    loop.exec();
    return dialog.hexList()->count() == hexline::kLoaderLineLimit;
}

} // namespace

int main(int argc, char **argv) {
    const bench::Environment environment;
    QApplication app(argc, argv);
    QTemporaryDir dir;
    TerminalDialog dialog;
    if (!dialog.OnInitDialog())
        return 1;
    dialog.show();
    dialog.OnEditor();
    flush();
    const long before = residentKiB();
    if (!loadFullFile(dialog, dir.filePath(QStringLiteral("full.bin"))))
        return std::fprintf(stderr, "the load did not reach 32,736 lines\n"), 1;
    flush();
    const long after = residentKiB();
    std::printf("resident memory: %ld KiB with the window, %ld KiB with 32,736 lines (+%ld KiB)\n",
                before, after, after - before);

    HexListBox &list = *dialog.hexList();
    const int last = list.count() - 1;
    const auto toTop = [&] {
        dialog.CloseCellEdit();
        list.scrollToTop();
    };
    report("scroll to the end, open the editor on the last line",
           timeRuns(toTop,
                    [&] {
                        list.scrollToBottom();
                        dialog.ShowFoundAt(last, 0);
                    }),
           16);
    report("type a byte on the last line (two hex digits)",
           timeRuns([&] { dialog.ShowFoundAt(last, 0); },
                    [&] {
                        typeKey(dialog.cellEdit(), Qt::Key_4, QStringLiteral("4"));
                        typeKey(dialog.cellEdit(), Qt::Key_1, QStringLiteral("1"));
                    }),
           16);
    report("type a byte on the last line (ASCII side)",
           timeRuns([&] { dialog.ShowFoundAt(last, 40); },
                    [&] { typeKey(dialog.cellEdit(), Qt::Key_Z, QStringLiteral("z")); }),
           16);
    dialog.CloseCellEdit();
    return list.lineText(last).mid(7, 2) == QLatin1String("41") ? 0 : 1;
}
