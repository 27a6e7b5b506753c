#include "app/settings_store.h"

#include "app/terminal_dialog.h"
#include "platform/stored_settings.h"
#include "res/control_ids.h"
#include "res/dialog_templates.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace SettingsStore {
namespace {

enum class Apply { EditText, SelectPrefix, LineEdit };

struct TextValue {
    const char *name;
    int controlId;
    Apply apply;
};

namespace stored = platform::stored;

// The order in which the values are restored.
constexpr TextValue kRestoreOrder[] = {
    {stored::Port, ctl::Port, Apply::EditText},
    {stored::DataBits, ctl::DataBits, Apply::SelectPrefix},
    {stored::StopBits, ctl::StopBits, Apply::SelectPrefix},
    {stored::Parity, ctl::Parity, Apply::SelectPrefix},
    {stored::Baud, ctl::Baud, Apply::EditText},
    {stored::Flow, ctl::Flow, Apply::SelectPrefix},
    {stored::Delay, ctl::Delay, Apply::LineEdit},
    {stored::CaptureFile, ctl::CaptureFile, Apply::LineEdit},
    {stored::SendFile, ctl::SendFile, Apply::LineEdit},
    {stored::DropDirectory, ctl::DropDirectory, Apply::LineEdit},
};
// And the order in which they are saved.
constexpr int kSaveOrder[] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 8};

void applyText(TerminalDialog &dialog, const TextValue &v, const QString &text) {
    switch (v.apply) {
    case Apply::EditText:
        dialog.itemAs<QComboBox>(v.controlId)->setEditText(text);
        break;
    case Apply::SelectPrefix:
        // A text that matches no item leaves the selection as it is.
        if (const int index = res::indexByPrefix(res::comboItems(v.controlId), text); index >= 0)
            dialog.itemAs<QComboBox>(v.controlId)->setCurrentIndex(index);
        break;
    case Apply::LineEdit:
        dialog.itemAs<QLineEdit>(v.controlId)->setText(text);
        break;
    }
}

QString controlText(TerminalDialog &dialog, const TextValue &v) {
    if (v.apply == Apply::LineEdit)
        return dialog.itemAs<QLineEdit>(v.controlId)->text();
    return dialog.itemAs<QComboBox>(v.controlId)->currentText();
}

} // namespace

void restore(TerminalDialog &dialog) {
    const platform::StoredSettings settings;
    // A missing or unreadable store leaves every control at its default.
    if (!settings.readable())
        return;
    for (const TextValue &v : kRestoreOrder) {
        if (const auto text = settings.text(v.name))
            applyText(dialog, v, *text);
    }
    if (const auto mode2 = settings.mode2())
        dialog.m_mode2 = *mode2;
    dialog.m_recordTimes = settings.flag(stored::ArrivalTimes).value_or(false);
    dialog.m_protocol =
        protocols::protocolFromName(settings.text(stored::Protocol).value_or(QString()));
    dialog.itemAs<QCheckBox>(ctl::Mode)->setChecked(dialog.m_mode2);
}

void save(TerminalDialog &dialog) {
    platform::StoredSettings settings;
    if (!settings.writable())
        return;
    for (int index : kSaveOrder) {
        const TextValue &v = kRestoreOrder[index];
        settings.setText(v.name, controlText(dialog, v));
    }
    dialog.m_mode2 = dialog.itemAs<QCheckBox>(ctl::Mode)->isChecked();
    settings.setMode2(dialog.m_mode2);
    settings.setFlag(stored::ArrivalTimes, dialog.m_recordTimes);
    settings.setText(stored::Protocol, dialog.m_protocol
                                           ? protocols::protocolName(*dialog.m_protocol)
                                           : QStringLiteral("none"));
    settings.sync();
}

} // namespace SettingsStore
