#include "hexedit/editor_pane.h"

#include "hexedit/hex_cell_edit.h"
#include "hexedit/hex_list_box.h"
#include "loader/arrival_times.h"
#include "loader/hexline.h"
#include "res/control_ids.h"

#include <QAbstractButton>
#include <QLineEdit>

EditorPane::EditorPane(QWidget *window)
    : QWidget(window), m_font(QStringLiteral("Lucida Console")) {
    setObjectName(QStringLiteral("EditorPane"));
    // "Lucida Console", 10 pixels high, is asked for by name; where it is missing the system's
    // fixed-pitch face stands in, so that the columns of the hex lines stay aligned.
    m_font.setFamilies({QStringLiteral("Lucida Console"), QStringLiteral("DejaVu Sans Mono"),
                        QStringLiteral("Liberation Mono"), QStringLiteral("monospace")});
    m_font.setStyleHint(QFont::TypeWriter);
    m_font.setFixedPitch(true);
    m_font.setPixelSize(10);
}

HexCellEdit *EditorPane::cellEdit() const {
    return m_cellEdit;
}

HexListBox *EditorPane::makeHexList(QWidget *parent) {
    m_hexList = new HexListBox(this, parent);
    return m_hexList;
}

void EditorPane::bindControls(const QHash<int, QWidget *> &items) {
    for (int id : {ctl::HexList, ctl::FindText, ctl::Ascii, ctl::Case, ctl::Find, ctl::New,
                   ctl::Save, ctl::Print})
        m_items.insert(id, items.value(id));
    m_hexList->setFont(m_font);
    const auto onClick = [this](int id, void (EditorPane::*handler)()) {
        connect(qobject_cast<QAbstractButton *>(control(id)), &QAbstractButton::clicked, this,
                [this, handler] { (this->*handler)(); });
    };
    onClick(ctl::New, &EditorPane::OnNew);
    onClick(ctl::Find, &EditorPane::OnFind);
    onClick(ctl::Ascii, &EditorPane::OnAsciiCheck);
    onClick(ctl::Save, &EditorPane::OnSave);
    onClick(ctl::Print, &EditorPane::OnPrint);
    connect(qobject_cast<QLineEdit *>(control(ctl::FindText)), &QLineEdit::textChanged, this,
            &EditorPane::OnFindTextChange);
    // "CASE" follows "ASCII".
    control(ctl::Case)->setEnabled(false);
}

void EditorPane::setLoader(LoaderStartFn start, LoaderStopFn stop, LoaderFinishFn finish) {
    m_pfnStart = start;
    m_pfnStop = stop;
    m_pfnFinish = finish;
}

void EditorPane::followFile(const QString &path) {
    m_timesPath = arrival::sidecarPath(path);
    if (m_pfnStop && m_pfnStart) {
        m_pfnStop();
        m_pfnStart(m_hexList, path);
    }
}

void EditorPane::finishLoad() {
    if (m_pfnFinish)
        m_pfnFinish();
}

void EditorPane::loadFile(const QString &path) {
    if (m_pfnStop && m_pfnStart && m_pfnFinish) {
        followFile(path);
        finishLoad();
    }
}

QString EditorPane::arrivalToolTip(int line) {
    if (line < 0)
        return {};
    if (m_timesPath.isEmpty())
        return {};
    const qint64 start = qint64(line) * hexline::kBytesPerLine;
    const arrival::StretchTimes times =
        arrival::lookupStretch(m_timesPath, start, start + hexline::kBytesPerLine);
    QStringList text;
    if (times.first)
        text << QStringLiteral("Arrived ") + times.first->time;
    for (const arrival::Burst &back : times.reconnects)
        text << QStringLiteral("Reconnected ") + back.time;
    return text.join(u'\n');
}

// "&New": one blank line, with the editor open on its first digit.
void EditorPane::OnNew() {
    // After Stop returns, no line of the load that was running reaches the list any more.
    if (m_pfnStop)
        m_pfnStop();
    CloseCellEdit();
    m_hexList->clear();
    m_timesPath.clear();
    if (!m_hexList->appendBlankLine())
        return;
    m_hexList->setCurrentLine(0);
    BeginCellEdit();
}

// BeginCellEdit and ShowFoundAt: the editor over `line` with the caret on `cell`. The caller
// has closed any editor before.
HexCellEdit *EditorPane::openCellEditor(int line, int cell) {
    if (line < 0 || line >= m_hexList->count())
        return nullptr;
    m_hexList->setCurrentLine(line);
    HexCellEdit *edit =
        HexCellEdit::CreateOnLine(m_hexList, m_hexList->visualItemRect(m_hexList->item(line)));
    if (edit == nullptr)
        return nullptr;
    edit->setFont(m_font);
    edit->openAt(line, cell);
    return edit;
}

void EditorPane::BeginCellEdit() {
    CloseCellEdit();
    m_cellEdit = openCellEditor(m_hexList->currentRow(), 0);
}

void EditorPane::ShowFoundAt(int line, int cell) {
    CloseCellEdit();
    m_cellEdit = openCellEditor(line, cell);
}

// Never loses a change: the text is written back before the editor goes, and the focus it
// had passes to the list first.
void EditorPane::CloseCellEdit() {
    HexCellEdit *edit = m_cellEdit;
    if (edit == nullptr)
        return;
    m_cellEdit = nullptr;
    edit->finish();
    if (edit->hasFocus())
        m_hexList->setFocus(Qt::OtherFocusReason);
    edit->hide();
    // This may run inside one of the editor's own event handlers.
    edit->deleteLater();
}
