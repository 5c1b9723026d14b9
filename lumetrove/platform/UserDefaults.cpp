#include "lumetrove/platform/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <functional>

namespace lumetrove::UserDefaults {
namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QSettings store()
{
    return QSettings(QStringLiteral("Lumetrove"), QStringLiteral("Lumetrove"));
}

// QSettings writes through a temporary file that takes over the permissions of the file it replaces, so an
// owner-only file that exists before the first write keeps the key from ever being readable by others.
void prepareFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        QDir().mkpath(info.absolutePath());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.setPermissions(ownerOnly);
        }
        return;
    }
    QFile::setPermissions(path, ownerOnly);
}

bool write(const std::function<void(QSettings&)>& change)
{
    QSettings settings = store();
    prepareFile(settings.fileName());
    change(settings);
    settings.sync();
    QFile::setPermissions(settings.fileName(), ownerOnly);
    return settings.status() == QSettings::NoError;
}

} // namespace

QVariant value(const QString& key)
{
    return store().value(key);
}

bool contains(const QString& key)
{
    return store().contains(key);
}

std::optional<QString> string(const QString& key)
{
    const QVariant stored = value(key);
    if (!stored.isValid()) {
        return std::nullopt;
    }
    return stored.toString();
}

bool boolean(const QString& key)
{
    // The native format keeps every value as text; "true" and "false" read back as the Booleans they were.
    return value(key).toBool();
}

bool setValue(const QString& key, const QVariant& value)
{
    return write([&](QSettings& settings) { settings.setValue(key, value); });
}

bool remove(const QString& key)
{
    return write([&](QSettings& settings) { settings.remove(key); });
}

QString fileName()
{
    return store().fileName();
}

} // namespace lumetrove::UserDefaults
