#include "app/settings_store.h"

#include "app/terminal_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QtEndian>
#include <optional>

namespace SettingsStore {
namespace {

enum class Apply { EditText, SelectPrefix, LineEdit };

struct TextValue {
    const char *name;
    int controlId;
    Apply apply;
};

// The order in which the values are restored.
constexpr TextValue kRestoreOrder[] = {
    {"port", 1000, Apply::EditText},       {"datab", 1001, Apply::SelectPrefix},
    {"stopb", 1002, Apply::SelectPrefix},  {"parity", 1003, Apply::SelectPrefix},
    {"baudrate", 1004, Apply::EditText},   {"flow", 1005, Apply::SelectPrefix},
    {"delay", 1047, Apply::LineEdit},      {"file1", 1006, Apply::LineEdit},
    {"file2", 1012, Apply::LineEdit},      {"dir", 1007, Apply::LineEdit},
};
// And the order in which they are saved.
constexpr int kSaveOrder[] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 8};

std::unique_ptr<QSettings> openStore() {
    return std::make_unique<QSettings>(QStringLiteral("Brisgal"), QStringLiteral("Kalvosan"));
}

std::optional<QString> storedText(const QSettings &settings, const char *name) {
    const QVariant value = settings.value(QLatin1String(name));
    if (!value.isValid())
        return std::nullopt;
    const QByteArray bytes = value.toString().toLocal8Bit();
    if (bytes.size() > kMaxTextBytes)
        return std::nullopt;
    // The text ends at the first zero byte, as a C string stored without one would.
    return QString::fromLocal8Bit(bytes.left(bytes.indexOf('\0') < 0 ? bytes.size()
                                                                     : bytes.indexOf('\0')));
}

void applyText(TerminalDialog &dialog, const TextValue &v, const QString &text) {
    switch (v.apply) {
    case Apply::EditText:
        dialog.itemAs<QComboBox>(v.controlId)->setEditText(text);
        break;
    case Apply::SelectPrefix:
        selectByPrefix(dialog.itemAs<QComboBox>(v.controlId), text);
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

bool selectByPrefix(QComboBox *combo, const QString &text) {
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).startsWith(text, Qt::CaseInsensitive)) {
            combo->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

void restore(TerminalDialog &dialog) {
    const auto settings = openStore();
    // A missing or unreadable store leaves every control at its default.
    if (settings->status() != QSettings::NoError ||
        !settings->childGroups().contains(QStringLiteral("Settings")))
        return;
    settings->beginGroup(QStringLiteral("Settings"));
    for (const TextValue &v : kRestoreOrder) {
        if (const auto text = storedText(*settings, v.name))
            applyText(dialog, v, *text);
    }
    const QByteArray mode = settings->value(QStringLiteral("mode")).toByteArray();
    if (mode.size() == 4)
        dialog.m_mode2 = qFromLittleEndian<qint32>(mode.constData()) != 0;
    dialog.itemAs<QCheckBox>(1057)->setChecked(dialog.m_mode2.load());
    settings->endGroup();
}

void save(TerminalDialog &dialog) {
    const auto settings = openStore();
    if (!settings->isWritable())
        return;
    settings->beginGroup(QStringLiteral("Settings"));
    for (int index : kSaveOrder) {
        const TextValue &v = kRestoreOrder[index];
        settings->setValue(QLatin1String(v.name), controlText(dialog, v));
    }
    dialog.m_mode2 = dialog.itemAs<QCheckBox>(1057)->isChecked();
    char mode[4];
    qToLittleEndian<qint32>(dialog.m_mode2.load() ? 1 : 0, mode);
    settings->setValue(QStringLiteral("mode"), QByteArray(mode, 4));
    settings->endGroup();
    settings->sync();
}

} // namespace SettingsStore
