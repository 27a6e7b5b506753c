// Two figures, medians of 10 runs:
//  1. the hex line formatter over a random 523,776-byte buffer (32,736 lines), target < 3 ms;
//  2. a whole load through the real libkalvosan.so: Start + Finish on that file into a shown
//     QListWidget, until the 32,736th line is in the list, target < 60 ms.
#include "bench/bench_stats.h"
#include "loader/hexline.h"
#include "loader/loader_api.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFontDatabase>
#include <QLibrary>
#include <QListWidget>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRuns = 10;

using bench::report;

double formatToBuffer(const QByteArray &bytes, std::vector<char16_t> &out) {
    const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    QElapsedTimer timer;
    timer.start();
    char16_t *at = out.data();
    for (int line = 0; line < hexline::kLoaderLineLimit; ++line)
        at += hexline::formatLine(at, line, data + line * 16, 16);
    return timer.nsecsElapsed() / 1e6;
}

// As the worker does it: one QString per line with a placeholder label.
double formatToStrings(const QByteArray &bytes) {
    const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    QElapsedTimer timer;
    timer.start();
    QStringList lines;
    lines.reserve(hexline::kLoaderLineLimit);
    for (int line = 0; line < hexline::kLoaderLineLimit; ++line) {
        QString s(hexline::kFullLength, Qt::Uninitialized);
        hexline::formatLine(reinterpret_cast<char16_t *>(s.data()), 0, data + line * 16, 16);
        lines.append(std::move(s));
    }
    return timer.nsecsElapsed() / 1e6;
}

double wholeLoad(QListWidget &list, const QString &path, LoaderStartFn start,
                 LoaderFinishFn finish) {
    list.clear();
    QCoreApplication::processEvents();
    QEventLoop loop;
    const auto connection = QObject::connect(list.model(), &QAbstractItemModel::rowsInserted, [&] {
        if (list.count() >= hexline::kLoaderLineLimit)
            loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    start(&list, path);
    finish();
    loop.exec();
    const double ms = timer.nsecsElapsed() / 1e6;
    QObject::disconnect(connection);
    return ms;
}

// The floor: the same lines, ready made, inserted by 64 queued calls of up to 512 lines.
double readyStringsFloor(QListWidget &list, const QStringList &ready) {
    list.clear();
    QCoreApplication::processEvents();
    QObject context;
    QElapsedTimer timer;
    timer.start();
    for (qsizetype at = 0; at < ready.size(); at += 512) {
        QStringList block = ready.mid(at, 512);
        QMetaObject::invokeMethod(
            &context, [&list, block] { list.addItems(block); }, Qt::QueuedConnection);
    }
    QEventLoop loop;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    loop.exec();
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv) {
    const bench::Environment environment;
    QApplication app(argc, argv);

    QByteArray bytes(hexline::kLoaderByteLimit, Qt::Uninitialized);
    QRandomGenerator gen(2024);
    for (char &c : bytes)
        c = static_cast<char>(gen.bounded(256));

    std::vector<char16_t> out(std::size_t(hexline::kLoaderLineLimit) * hexline::kFullLength);
    std::vector<double> buffer, strings;
    for (int i = 0; i < kRuns + 1; ++i) { // the first run warms up
        const double b = formatToBuffer(bytes, out);
        const double s = formatToStrings(bytes);
        if (i > 0) {
            buffer.push_back(b);
            strings.push_back(s);
        }
    }
    report("format 32,736 lines into one buffer", buffer, 3);
    // Dominated by page faults when malloc hands the freed lines back to the system between runs.
    report("  the same into one QString each (as the worker)", strings, 0);

    QTemporaryDir dir;
    const QString path = dir.filePath("load.bin");
    QFile file(path);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return std::fprintf(stderr, "cannot write %s\n", qPrintable(path)), 1;
    file.close();

    QLibrary lib(QCoreApplication::applicationDirPath() + "/" + kLoaderLibraryName);
    const auto start = reinterpret_cast<LoaderStartFn>(lib.resolve("Start"));
    const auto finish = reinterpret_cast<LoaderFinishFn>(lib.resolve("Finish"));
    if (!start || !finish)
        return std::fprintf(stderr, "%s\n", qPrintable(lib.errorString())), 1;

    // The editor's list (hexedit/HexListBox) has uniform item sizes and a fixed-pitch font;
    // a plain QListWidget lays out every item again after each insertion, which costs far
    // more than the loading itself once the list is long.
    for (const bool uniform : {true, false}) {
        QListWidget list;
        list.setUniformItemSizes(uniform);
        list.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        list.resize(640, 480);
        list.show();
        std::vector<double> loads, floors;
        for (int i = 0; i < kRuns + 1; ++i) {
            const double ms = wholeLoad(list, path, start, finish);
            if (list.count() != hexline::kLoaderLineLimit)
                return std::fprintf(stderr, "got %d lines\n", int(list.count())), 1;
            if (i > 0)
                loads.push_back(ms);
        }
        QStringList ready;
        for (int i = 0; i < list.count(); ++i)
            ready.append(list.item(i)->text());
        for (int i = 0; i < kRuns + 1; ++i) {
            const double ms = readyStringsFloor(list, ready);
            if (i > 0)
                floors.push_back(ms);
        }
        std::printf("%s\n", uniform ? "into a shown list with uniform item sizes (as the editor's):"
                                    : "into a shown plain QListWidget (for comparison):");
        report("  whole load (Start + Finish, 32,736 lines)", loads, uniform ? 60 : 0);
        report("  floor: 32,736 ready lines, 64 queued addItems", floors, 0);
    }
    lib.unload();
    return 0;
}
