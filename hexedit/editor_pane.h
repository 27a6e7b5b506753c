// The "Easy HEX editor" pane: the hex list (the editor's only buffer), the cell editor over
// one of its lines, the search row, Save and Print. The window embeds it, gives it the
// loader library's entries and delegates its handlers here; the pane knows nothing of the
// window.
#pragma once

#include "loader/arrival_times.h"
#include "loader/loader_api.h"

#include <QFont>
#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>

class HexListBox;
class HexCellEdit;

class EditorPane : public QWidget {
    Q_OBJECT
public:
    // A child of the window covering the window's part of the editor pane; the controls are
    // built into it by the window's template (see bindControls).
    explicit EditorPane(QWidget *window);

    // Takes the pane's controls out of the window's id table (the hex list, which the window
    // built through makeHexList, the search row, Save and Print) and connects them.
    void bindControls(const QHash<int, QWidget *> &items);
    // The hex list for the template's list box control.
    HexListBox *makeHexList(QWidget *parent);

    // The loader library's entries; none while it is not loaded.
    void setLoader(LoaderStartFn start, LoaderStopFn stop, LoaderFinishFn finish);
    // The pane follows a file as it grows (Stop, then Start), until finishLoad (Finish).
    void followFile(const QString &path);
    void finishLoad();
    // Shows a file whole: Stop, Start, Finish.
    void loadFile(const QString &path);

    // The arrival time of the first byte of a line, from the times file beside the file the
    // pane shows (a capture made with arrival times); empty when there is none. Read when
    // asked, never kept per line.
    QString arrivalToolTip(int line);

    // Where print.sh and printout.txt go: the directory the program was started from.
    void setStartDirectory(const QString &directory) { m_startDir = directory; }
    const QFont &lineFont() const { return m_font; }

    HexListBox *hexList() const { return m_hexList; }
    HexCellEdit *cellEdit() const;

    // The handlers of the pane (control ids by name in res/control_ids.h).
    void OnNew();         // "&New"
    void BeginCellEdit(); // a double-click on a line
    void CloseCellEdit(); // writes a changed line back and closes the editor
    void ShowFoundAt(int line, int cell);
    void OnFindTextChange(); // the search text changed
    void OnAsciiCheck();     // "ASCII"
    void OnFind();           // "&Find"
    void OnSave();           // "&Save"
    void OnPrint();          // "&Print"

    // Where the next "&Find" goes on from: the line of the last hit (-1: from the top) and
    // the position after it.
    int findLine() const { return m_findLine; }
    int findPos() const { return m_findPos; }

private:
    QWidget *control(int id) const { return m_items.value(id); }
    HexCellEdit *openCellEditor(int line, int cell);

    QHash<int, QWidget *> m_items;
    HexListBox *m_hexList = nullptr;
    QPointer<HexCellEdit> m_cellEdit;
    QFont m_font;
    QString m_startDir;
    // The arrival times beside the file the loader last put into the list, looked up at each
    // hover as the file grows.
    QString m_timesPath;
    LoaderStartFn m_pfnStart = nullptr;
    LoaderStopFn m_pfnStop = nullptr;
    LoaderFinishFn m_pfnFinish = nullptr;
    QString m_findText;
    QString m_acceptedFindText;
    int m_findLine = -1;
    std::uint8_t m_findPos = 0;
};
