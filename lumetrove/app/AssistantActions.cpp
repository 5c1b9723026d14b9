#include "lumetrove/app/AssistantActions.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/platform/Log.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QVariantMap>

namespace lumetrove {
namespace {

const QString notificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");

NotificationFallback& fallback()
{
    static NotificationFallback instance;
    return instance;
}

std::optional<QDBusConnection>& busOverride()
{
    static std::optional<QDBusConnection> bus;
    return bus;
}

QDBusConnection notificationBus()
{
    return busOverride() ? *busOverride() : QDBusConnection::sessionBus();
}

QDBusMessage notificationsCall(const QString& method)
{
    return QDBusMessage::createMethodCall(notificationsService, notificationsPath, notificationsService, method);
}

/// Runs `done` with the finished call on the main thread; the watcher goes with it.
void whenFinished(const QDBusPendingCall& call, std::function<void(const QDBusPendingCall&)> done)
{
    auto* watcher = new QDBusPendingCallWatcher(call, QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [done = std::move(done)](QDBusPendingCallWatcher* finished) {
                         done(*finished);
                         finished->deleteLater();
                     });
}

void notifyFallback(const QString& title, const QString& body)
{
    if (fallback()) {
        fallback()(title, body);
    }
}

void notify(const QString& title, const QString& body)
{
    requestNotificationAuthorization();
    showUserNotification(title, body);
}

} // namespace

void copyRecognizedText(const QString& text)
{
    if (text.isEmpty()) {
        notify(QStringLiteral("Copy text failed"), QStringLiteral("No text found"));
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
    notify(QStringLiteral("Text Copied"), QStringLiteral("Text copied to clipboard"));
}

void searchRecognizedText(const QString& text)
{
    if (text.isEmpty()) {
        notify(QStringLiteral("Web search failed"), QStringLiteral("No text to search found"));
        return;
    }
    openWebSearch(text);
}

std::optional<QUrl> webSearchURL(const QString& text)
{
    QString oneLine = text;
    oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
    // Encoded as a query value, not with the lenient query character set: that set lets "&" end the value
    // and "+" read back as a blank, so "C++ & Rust" would search for "C  ".
    const QByteArray encoded = QUrl::toPercentEncoding(oneLine);
    const QUrl url = QUrl::fromEncoded(QByteArray(webSearchPrefix) + encoded, QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url;
}

void openWebSearch(const QString& text)
{
    const std::optional<QUrl> url = webSearchURL(text);
    if (!url) {
        printLine(QStringLiteral("Invalid URL"));
        return;
    }
    QDesktopServices::openUrl(*url);
}

void requestNotificationAuthorization()
{
    QDBusConnection bus = notificationBus();
    if (!bus.isConnected()) {
        printLine(QStringLiteral("Error requesting notification authorization: ") + bus.lastError().message());
        return;
    }
    whenFinished(bus.asyncCall(notificationsCall(QStringLiteral("GetCapabilities"))), [](const QDBusPendingCall& call) {
        if (call.isError()) {
            printLine(QStringLiteral("Error requesting notification authorization: ") + call.error().message());
        } else {
            printLine(QStringLiteral("Notification permission granted."));
        }
    });
}

void showUserNotification(const QString& title, const QString& body)
{
    QDBusConnection bus = notificationBus();
    if (!bus.isConnected()) {
        printLine(QStringLiteral("Error showing notification: ") + bus.lastError().message());
        notifyFallback(title, body);
        return;
    }
    QDBusMessage message = notificationsCall(QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the server's default)
    message << QStringLiteral("Lumetrove") << 0u << QString() << title << body << QStringList() << QVariantMap() << -1;
    whenFinished(bus.asyncCall(message), [title, body](const QDBusPendingCall& call) {
        if (call.isError()) {
            printLine(QStringLiteral("Error showing notification: ") + call.error().message());
            notifyFallback(title, body);
        }
    });
}

void openScreenshotsFolder()
{
    if (const std::optional<QString> directory = screenshotsDirectory()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(*directory));
    }
}

void setNotificationFallback(NotificationFallback newFallback)
{
    fallback() = std::move(newFallback);
}

void setNotificationBus(const QDBusConnection& bus)
{
    busOverride() = bus;
}

} // namespace lumetrove
