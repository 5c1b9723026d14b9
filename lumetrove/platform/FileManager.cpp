#include "lumetrove/platform/FileManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>

namespace lumetrove {

namespace {

void openContainingFolder(const QUrl& fileUrl)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(fileUrl.toLocalFile()).absolutePath()));
}

} // namespace

void revealFileInFolder(const QUrl& fileUrl)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openContainingFolder(fileUrl);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{fileUrl.toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, fileUrl] {
        if (watcher->isError()) {
            openContainingFolder(fileUrl);
        }
        watcher->deleteLater();
    });
}

} // namespace lumetrove
