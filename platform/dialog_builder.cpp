#include "platform/dialog_builder.h"

#include "platform/animation_control.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

namespace {

using res::ControlKind;
using res::ControlTemplate;

Qt::Alignment textAlignment(unsigned styles) {
    if (styles & res::AlignRight)
        return Qt::AlignRight | Qt::AlignVCenter;
    if (styles & res::Centered)
        return Qt::AlignHCenter | Qt::AlignVCenter;
    return Qt::AlignLeft | Qt::AlignVCenter;
}

QWidget *makeComboBox(const ControlTemplate &c, QWidget *parent) {
    auto *combo = new QComboBox(parent);
    combo->setEditable(c.styles & res::Editable);
    combo->setInsertPolicy(QComboBox::NoInsert);
    // What the user types is what is used: the default completer would turn a typed "COM1"
    // into "COM10" and a baud rate "5" into "56000".
    if (combo->isEditable())
        combo->setCompleter(nullptr);
    for (const char *item : c.items)
        combo->addItem(QString::fromLatin1(item));
    if (combo->lineEdit())
        combo->lineEdit()->setAlignment(textAlignment(c.styles));
    if (c.styles & res::ArrowLeft)
        combo->setLayoutDirection(Qt::RightToLeft);
    return combo;
}

QWidget *makeEdit(const ControlTemplate &c, QWidget *parent) {
    if (c.styles & res::MultiLine) {
        auto *edit = new QPlainTextEdit(parent);
        edit->setReadOnly(c.styles & res::ReadOnly);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        return edit;
    }
    auto *edit = new QLineEdit(parent);
    edit->setReadOnly(c.styles & res::ReadOnly);
    edit->setAlignment(textAlignment(c.styles));
    edit->setFrame(c.styles & res::Border);
    return edit;
}

QWidget *makeButton(const ControlTemplate &c, QWidget *parent) {
    auto *button = new QPushButton(QString::fromLatin1(c.caption), parent);
    // Enter must never click a button the user did not focus.
    button->setAutoDefault(false);
    return button;
}

QWidget *makeLabel(const ControlTemplate &c, QWidget *parent) {
    auto *label = new QLabel(QString::fromLatin1(c.caption), parent);
    label->setAlignment(c.kind == ControlKind::IconLabel ? Qt::AlignCenter
                                                         : textAlignment(c.styles) | Qt::AlignTop);
    if (c.kind == ControlKind::IconLabel)
        label->setPixmap(iconPixmap(c.iconId));
    else
        label->setWordWrap(c.height > 10);
    return label;
}

QWidget *makeStandardControl(const ControlTemplate &c, QWidget *parent) {
    switch (c.kind) {
    case ControlKind::GroupBox:
        return new QGroupBox(QString::fromLatin1(c.caption), parent);
    case ControlKind::Label:
    case ControlKind::IconLabel:
        return makeLabel(c, parent);
    case ControlKind::ComboBox:
        return makeComboBox(c, parent);
    case ControlKind::Edit:
        return makeEdit(c, parent);
    case ControlKind::Button:
        return makeButton(c, parent);
    case ControlKind::CheckBox:
        return new QCheckBox(QString::fromLatin1(c.caption), parent);
    case ControlKind::Animation:
        return new AnimationControl(parent);
    case ControlKind::ProgressBar: {
        auto *bar = new QProgressBar(parent);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::IconButton:
        return new QToolButton(parent);
    case ControlKind::ListBox:
        break;
    }
    return nullptr;
}

// Where the dialog font falls back to a wider face, a caption is drawn a little smaller
// rather than cut off at the edge of its control.
void fitCaption(QWidget *w) {
    const bool wraps = qobject_cast<QLabel *>(w) && qobject_cast<QLabel *>(w)->wordWrap();
    if (wraps || !(qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w)))
        return;
    QFont f = w->font();
    while (w->sizeHint().width() > w->width() && f.pointSizeF() > 6.5) {
        f.setPointSizeF(f.pointSizeF() - 0.5);
        w->setFont(f);
    }
}

} // namespace

QPixmap iconPixmap(int iconId) {
    return QPixmap(iconId == 135 ? QStringLiteral(":/res/icons/overflow.png")
                                 : QStringLiteral(":/res/icons/app.png"));
}

DialogBuilder::DialogBuilder(const res::DialogTemplate &dialogTemplate)
    : m_template(dialogTemplate),
      m_font(QString::fromLatin1(dialogTemplate.fontFamily), dialogTemplate.pointSize) {
    const QFontMetrics fm(m_font);
    // The average width of the alphabet, rounded, as dialog units have always been measured.
    const int alphabet = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (alphabet / 26 + 1) / 2;
    m_baseY = fm.height();
}

QRect DialogBuilder::toPixels(int x, int y, int width, int height) const {
    return QRect(x * m_baseX / 4, y * m_baseY / 8, width * m_baseX / 4, height * m_baseY / 8);
}

QSize DialogBuilder::dialogSize() const {
    return toPixels(0, 0, m_template.width, m_template.height).size();
}

QWidget *DialogBuilder::createControl(const ControlTemplate &c, QWidget *dialog, QWidget *parent,
                                      const Factory &custom) const {
    QWidget *w = c.kind == ControlKind::ListBox && custom ? custom(c, parent)
                                                          : makeStandardControl(c, parent);
    if (!w)
        return nullptr;
    // A combo box's template height is that of its drop-down list; the box itself is one line.
    const int height = c.kind == ControlKind::ComboBox ? 13 : c.height;
    const QPoint origin = parent == dialog ? QPoint() : parent->mapTo(dialog, QPoint());
    w->setGeometry(toPixels(c.x, c.y, c.width, height).translated(-origin));
    if (c.kind == ControlKind::Label || c.kind == ControlKind::CheckBox)
        fitCaption(w);
    w->setAccessibleName(QString::fromLatin1(c.accessibleName));
    w->setVisible(!(c.styles & res::Hidden));
    w->setEnabled(!(c.styles & res::Disabled));
    if (c.kind == ControlKind::GroupBox)
        w->lower();
    return w;
}

QHash<int, QWidget *> DialogBuilder::build(QWidget *dialog, const Factory &custom,
                                           const Container &container) const {
    dialog->setFont(m_font);
    dialog->setWindowTitle(QString::fromLatin1(m_template.caption));
    QHash<int, QWidget *> table;
    QList<std::pair<QLabel *, int>> buddies;
    for (const ControlTemplate &c : m_template.controls) {
        QWidget *parent = container ? container(c) : nullptr;
        QWidget *w = createControl(c, dialog, parent ? parent : dialog, custom);
        if (w && c.id != -1)
            table.insert(c.id, w);
        if (auto *label = qobject_cast<QLabel *>(w); label && c.buddyId != 0)
            buddies.append({label, c.buddyId});
    }
    // A label names its control for screen readers (the "labelled by" relation); on Linux a
    // combo box is otherwise announced by its current text alone.
    for (const auto &[label, buddyId] : buddies)
        label->setBuddy(table.value(buddyId));
    dialog->setFixedSize(dialogSize());
    return table;
}
