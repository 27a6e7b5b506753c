// "&Find" for a text that is not in the list, over 32,736 full lines: medians of 15 clicks.
//  1. through the window: a TerminalDialog, its list filled, "&Find" clicked, the report
//     answered; target < 30 ms per click;
//  2. the search alone (findNext over the line texts), for comparison.
#include "app/terminal_dialog.h"
#include "bench/bench_stats.h"
#include "hexedit/find_logic.h"
#include "hexedit/hex_list_box.h"
#include "loader/hexline.h"
#include "platform/ui.h"
#include "res/control_ids.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRuns = 15;

void report(const char *name, const std::vector<double> &ms, double targetMs) {
    bench::report(name, ms, targetMs, 44);
}

std::vector<double> timeRuns(const std::function<void()> &run) {
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        run();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return ms;
}

// Random bytes, except that 0xEE never follows 0xDD: the searched text "DDEE" is in no line.
QStringList randomLines() {
    QRandomGenerator random(20261207);
    QStringList lines;
    std::uint8_t previous = 0;
    for (int i = 0; i < hexline::kLoaderLineLimit; ++i) {
        std::uint8_t bytes[hexline::kBytesPerLine];
        for (std::uint8_t &b : bytes) {
            do
                b = std::uint8_t(random.bounded(256));
            while (previous == 0xDD && b == 0xEE);
            previous = b;
        }
        lines << hexline::formatLine(i, bytes, hexline::kBytesPerLine);
    }
    return lines;
}

void benchClick(TerminalDialog &dialog, const char *name, bool ascii, const QString &text) {
    if (dialog.itemAs<QCheckBox>(ctl::Ascii)->isChecked() != ascii)
        dialog.itemAs<QAbstractButton>(ctl::Ascii)->click();
    dialog.itemAs<QLineEdit>(ctl::FindText)->setText(text);
    int reports = 0;
    platform::uiHooks().message = [&](const platform::MessageRecord &) { ++reports; };
    const auto ms = timeRuns([&] { dialog.itemAs<QAbstractButton>(ctl::Find)->click(); });
    platform::uiHooks().message = nullptr;
    if (reports != kRuns)
        std::printf("%s: the text was found, the figure is void\n", name);
    report(name, ms, 30);
}

void benchSearch(const QStringList &lines, const char *name, bool ascii, const QString &text) {
    const QString prepared = prepareFindText(text, ascii, false);
    const auto ms = timeRuns([&] {
        FindState state;
        if (findNext(lines, prepared, ascii, false, state).found)
            std::printf("%s: found\n", name);
    });
    report(name, ms, 0);
}

} // namespace

int main(int argc, char **argv) {
    const bench::Environment environment;
    QApplication app(argc, argv);
    platform::uiHooks().message = [](const platform::MessageRecord &) {};
    TerminalDialog dialog;
    if (!dialog.OnInitDialog())
        return 1;
    dialog.show();
    dialog.OnEditor();
    const QStringList lines = randomLines();
    dialog.hexList()->addItems(lines);

    benchClick(dialog, "\"&Find\" click, hex DDEE, 32,736 lines", false, "DD EE");
    benchClick(dialog, "\"&Find\" click, ASCII, 32,736 lines", true, "~~~~~");
    benchSearch(lines, "findNext alone, hex DDEE", false, "DDEE");
    benchSearch(lines, "findNext alone, ASCII", true, "~~~~~");
    return 0;
}
