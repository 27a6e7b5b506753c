// "Select range:": a start and an end offset in hexadecimal for Save and Print. The start is
// included, the end is not. Each field holds at most 5 characters, makes typed letters upper
// case and returns at once to its last accepted text when a change brings in a character it
// refuses or a value above the range limit.
#pragma once

#include <QDialog>
#include <QHash>
#include <QString>

class QLineEdit;

class RangeDialog : public QDialog {
    Q_OBJECT
public:
    explicit RangeDialog(QWidget *parent = nullptr);

    QWidget *item(int id) const { return m_items.value(id); }
    QLineEdit *fromEdit() const;
    QLineEdit *toEdit() const;

    // true reads the fields into m_from and m_to, false writes those into the fields.
    void DoDataExchange(bool saveAndValidate);

    void OnChangeFrom(); // the start field changed
    void OnChangeTo();   // the end field changed
    // Confirms: stays open with "Invalid range.." while the start lies above the end.
    void OnOK();

    QString m_from = QStringLiteral("0");
    QString m_to = QStringLiteral("7FD10");
    QString m_acceptedFrom = QStringLiteral("0");
    QString m_acceptedTo = QStringLiteral("7FD10");
    int m_fromValue = 0; // set when the dialog is confirmed
    int m_toValue = 0;

protected:
    void accept() override { OnOK(); }
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The shared step of OnChangeFrom and OnChangeTo.
    void checkField(QLineEdit *edit, QString &text, QString &accepted);

    QHash<int, QWidget *> m_items;
};

// The offsets from..to chosen by the user.
struct ByteRange {
    int from = 0;
    int to = 0;
};

// Asks for a range with a fresh RangeDialog owned by parent. Cancel gives 0 to the range
// limit (0x7FD10): Save and Print then go on with the whole buffer.
ByteRange askRange(QWidget *parent);
