#include "hexedit/range_dialog.h"

#include "hexedit/range_logic.h"
#include "loader/hexline.h"
#include "platform/dialog_builder.h"
#include "platform/ui.h"
#include "res/control_ids.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QValidator>

namespace {

constexpr int kFieldLength = 5;

// Turns letters to upper case as they are typed, so that "a" to "f" count as hex digits. It
// never refuses a text: refusing is the dialog's own rule, which puts the last accepted text
// back.
class UpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override {
        // One character at a time, so that the caret keeps its place.
        for (QChar &c : input)
            c = c.toUpper();
        return Acceptable;
    }
};

} // namespace

RangeDialog::RangeDialog(QWidget *parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    const DialogBuilder builder(res::rangeDialogTemplate());
    m_items = builder.build(this);
    for (QLineEdit *edit : {fromEdit(), toEdit()}) {
        edit->setMaxLength(kFieldLength);
        edit->setValidator(new UpperCaseValidator(edit));
    }
    DoDataExchange(false);
    connect(fromEdit(), &QLineEdit::textChanged, this, &RangeDialog::OnChangeFrom);
    connect(toEdit(), &QLineEdit::textChanged, this, &RangeDialog::OnChangeTo);
    fromEdit()->setFocus();
}

QLineEdit *RangeDialog::fromEdit() const {
    return qobject_cast<QLineEdit *>(item(ctl::range::From));
}
QLineEdit *RangeDialog::toEdit() const {
    return qobject_cast<QLineEdit *>(item(ctl::range::To));
}

void RangeDialog::DoDataExchange(bool saveAndValidate) {
    if (saveAndValidate) {
        m_from = fromEdit()->text();
        m_to = toEdit()->text();
        return;
    }
    fromEdit()->setText(m_from);
    toEdit()->setText(m_to);
}

void RangeDialog::checkField(QLineEdit *edit, QString &text, QString &accepted) {
    DoDataExchange(true);
    if (!acceptRangeField(text)) {
        text = accepted;
        // Raises this handler once more, which accepts the restored text.
        edit->setText(text);
        edit->setCursorPosition(0);
    }
    accepted = text;
}

void RangeDialog::OnChangeFrom() {
    checkField(fromEdit(), m_from, m_acceptedFrom);
}
void RangeDialog::OnChangeTo() {
    checkField(toEdit(), m_to, m_acceptedTo);
}

void RangeDialog::OnOK() {
    DoDataExchange(true);
    m_toValue = ParseHexOffset(m_to);
    m_fromValue = ParseHexOffset(m_from);
    if (m_fromValue > m_toValue) {
        platform::messageBox(this, QStringLiteral("Invalid range.."), QStringLiteral("Kalvosan"),
                             platform::MessageIcon::Critical);
        return;
    }
    QDialog::accept();
}

void RangeDialog::keyPressEvent(QKeyEvent *event) {
    // There are no buttons: Enter confirms, Esc cancels (QDialog's own handling).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}

ByteRange askRange(QWidget *parent) {
    RangeDialog dialog(parent);
    if (platform::execDialog(&dialog) == QDialog::Accepted)
        return {dialog.m_fromValue, dialog.m_toValue};
    return {0, hexline::kRangeLimit};
}
