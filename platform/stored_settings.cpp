#include "platform/stored_settings.h"

#include <QSettings>
#include <QtEndian>

#include <algorithm>

namespace platform {

namespace {

const QString kGroup = QStringLiteral("Settings");

QString key(const char *name) {
    return kGroup + u'/' + QLatin1String(name);
}

} // namespace

StoredSettings::StoredSettings()
    : m_settings(
          std::make_unique<QSettings>(QStringLiteral("Brisgal"), QStringLiteral("Kalvosan"))) {}

StoredSettings::~StoredSettings() = default;

bool StoredSettings::readable() const {
    return m_settings->status() == QSettings::NoError && m_settings->childGroups().contains(kGroup);
}

std::optional<QString> StoredSettings::text(const char *name) const {
    const QVariant value = m_settings->value(key(name));
    if (!value.isValid())
        return std::nullopt;
    const QByteArray bytes = value.toString().toLocal8Bit();
    if (bytes.size() > kMaxTextBytes)
        return std::nullopt;
    const qsizetype zero = bytes.indexOf('\0');
    return QString::fromLocal8Bit(zero < 0 ? bytes : bytes.left(zero));
}

std::optional<bool> StoredSettings::mode2() const {
    const QByteArray mode = m_settings->value(key("mode")).toByteArray();
    if (mode.size() != 4)
        return std::nullopt;
    return qFromLittleEndian<qint32>(mode.constData()) != 0;
}

std::optional<bool> StoredSettings::flag(const char *name) const {
    const std::optional<QString> stored = text(name);
    if (!stored)
        return std::nullopt;
    return *stored == QLatin1String("1");
}

QStringList StoredSettings::texts(const char *name, int most) const {
    QStringList kept;
    const QStringList stored = m_settings->value(key(name)).toStringList();
    for (const QString &text : stored.mid(std::max<qsizetype>(0, stored.size() - most))) {
        if (text.toLocal8Bit().size() <= kMaxTextBytes)
            kept.append(text);
    }
    return kept;
}

bool StoredSettings::writable() const {
    return m_settings->isWritable();
}

void StoredSettings::setText(const char *name, const QString &value) {
    m_settings->setValue(key(name), value);
}

void StoredSettings::setMode2(bool mode2) {
    char mode[4];
    qToLittleEndian<qint32>(mode2 ? 1 : 0, mode);
    m_settings->setValue(key("mode"), QByteArray(mode, 4));
}

void StoredSettings::setFlag(const char *name, bool on) {
    setText(name, on ? QStringLiteral("1") : QStringLiteral("0"));
}

void StoredSettings::setTexts(const char *name, const QStringList &values) {
    m_settings->setValue(key(name), values);
}

void StoredSettings::sync() {
    m_settings->sync();
}

} // namespace platform
