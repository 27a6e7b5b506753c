// The main window with hex lines in its list, for the tests of Find, Save and Print, and an
// answerer for the "Select range:" dialog.
#pragma once

#include "app/terminal_dialog.h"
#include "hexedit/hex_list_box.h"
#include "hexedit/range_dialog.h"
#include "loader/hexline.h"
#include "platform/ui.h"
#include "res/control_ids.h"
#include "tests/test_support.h"

#include <QLineEdit>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace fsptest {

// A hex line made by the loader's own formatter.
inline QString hexLine(int index, const std::vector<std::uint8_t> &bytes) {
    return hexline::formatLine(index, bytes.data(), int(bytes.size()));
}

// A full line whose 16 bytes are its own offsets (16 * index + j, kept to 8 bits).
inline QString offsetLine(int index) {
    std::vector<std::uint8_t> bytes;
    for (int j = 0; j < hexline::kBytesPerLine; ++j)
        bytes.push_back(std::uint8_t(16 * index + j));
    return hexLine(index, bytes);
}

// Types `from` and `to` over the fields of the range dialog, then Enter (confirm) or Esc.
inline void answerRange(RangeDialog *dialog, const QString &from, const QString &to,
                        bool confirm = true) {
    for (auto [edit, text] :
         {std::pair{dialog->fromEdit(), from}, std::pair{dialog->toEdit(), to}}) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    QTest::keyClick(dialog->toEdit(), confirm ? Qt::Key_Return : Qt::Key_Escape);
}

class EditorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        dialog = testsupport::startedDialog();
        ASSERT_TRUE(dialog);
        dialog->OnEditor();
        platform::uiHooks().execDialog = [this](QDialog *d) {
            auto *range = qobject_cast<RangeDialog *>(d);
            EXPECT_NE(range, nullptr);
            ++rangeDialogs;
            range->show();
            if (!rangeAnswer)
                return int(QDialog::Rejected);
            answerRange(range, rangeAnswer->first, rangeAnswer->second);
            EXPECT_FALSE(range->isVisible()) << "the range dialog stayed open";
            return range->result();
        };
    }
    void TearDown() override {
        platform::uiHooks().execDialog = nullptr;
        platform::uiHooks().fileDialog = nullptr;
        platform::uiHooks().printer = nullptr;
    }

    void setLines(const QStringList &lines) {
        dialog->hexList()->clear();
        dialog->hexList()->addItems(lines);
    }
    void setOffsetLines(int count) {
        QStringList lines;
        for (int i = 0; i < count; ++i)
            lines << offsetLine(i);
        setLines(lines);
    }
    void click(int id) { QTest::mouseClick(dialog->item(id), Qt::LeftButton); }

    std::unique_ptr<TerminalDialog> dialog;
    testsupport::MessageRecorder messages;
    // What the range dialog is answered with; none cancels it.
    std::optional<std::pair<QString, QString>> rangeAnswer;
    int rangeDialogs = 0;
};

} // namespace fsptest
