#include "lumetrove/platform/PortalScreenshot.h"

#include "lumetrove/platform/ImageUtilities.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QFile>
#include <QFutureWatcher>
#include <QImageReader>
#include <QPointer>
#include <QRandomGenerator>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

namespace lumetrove {
namespace {

constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* screenshotInterface = "org.freedesktop.portal.Screenshot";
constexpr const char* requestInterface = "org.freedesktop.portal.Request";

PortalScreenshotOutcome unavailable(QString detail)
{
    return PortalScreenshotOutcome{PortalScreenshotOutcome::Status::unavailable, QImage(), std::move(detail)};
}

} // namespace

QString portalRequestPath(const QString& uniqueName, const QString& token)
{
    QString sender = uniqueName.startsWith(QLatin1Char(':')) ? uniqueName.mid(1) : uniqueName;
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + QLatin1Char('/') + token;
}

PortalScreenshotRequest::PortalScreenshotRequest(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus)
{}

void PortalScreenshotRequest::take(const QDBusConnection& bus, QObject* context,
                                   std::function<void(PortalScreenshotOutcome)> done, std::function<void()> taken)
{
    auto* request = new PortalScreenshotRequest(bus, nullptr);
    QPointer<QObject> guard(context);
    if (taken) {
        connect(request, &PortalScreenshotRequest::answered, request, [guard, taken = std::move(taken)] {
            if (guard) {
                taken();
            }
        });
    }
    connect(request, &PortalScreenshotRequest::finished, request,
            [guard, done = std::move(done)](const PortalScreenshotOutcome& outcome) {
                if (guard) {
                    done(outcome);
                }
            });
    request->start();
}

void PortalScreenshotRequest::start()
{
    if (!bus_.isConnected()) {
        finish(unavailable(QStringLiteral("no session bus")));
        return;
    }
    const QString token =
        QStringLiteral("lumetrove%1").arg(QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFFFull, 0, 16);
    listenOn(portalRequestPath(bus_.baseService(), token));

    // A portal that goes away while the user is asked would never answer.
    auto* watcher = new QDBusServiceWatcher(QString::fromLatin1(portalService), bus_,
                                            QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { finish(unavailable(QStringLiteral("the desktop portal left the bus"))); });

    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(portalService), QString::fromLatin1(portalPath),
                                       QString::fromLatin1(screenshotInterface), QStringLiteral("Screenshot"));
    call << QString() << QVariantMap{{QStringLiteral("handle_token"), token}, {QStringLiteral("interactive"), false}};
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending] {
        pending->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *pending;
        if (reply.isError()) {
            // No portal (no owner of the name), a portal without the Screenshot interface, or no answer.
            finish(unavailable(reply.error().name() + QStringLiteral(": ") + reply.error().message()));
            return;
        }
        // Portals older than the handle token answer on a path of their own.
        const QString path = reply.value().path();
        if (path != requestPath_) {
            listenOn(path);
        }
    });
}

void PortalScreenshotRequest::listenOn(const QString& path)
{
    if (!requestPath_.isEmpty()) {
        bus_.disconnect(QString::fromLatin1(portalService), requestPath_, QString::fromLatin1(requestInterface),
                        QStringLiteral("Response"), this, SLOT(response(uint, QVariantMap)));
    }
    requestPath_ = path;
    bus_.connect(QString::fromLatin1(portalService), requestPath_, QString::fromLatin1(requestInterface),
                 QStringLiteral("Response"), this, SLOT(response(uint, QVariantMap)));
}

void PortalScreenshotRequest::response(uint code, const QVariantMap& results)
{
    if (done_) {
        return;
    }
    if (code == 1) {
        finish(PortalScreenshotOutcome{PortalScreenshotOutcome::Status::refused, QImage(), QString()});
        return;
    }
    if (code != 0) {
        finish(unavailable(QStringLiteral("the desktop portal answered %1").arg(code)));
        return;
    }
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    if (!uri.isLocalFile()) {
        finish(unavailable(QStringLiteral("the desktop portal gave no local file: ") + uri.toString()));
        return;
    }
    emit answered();
    readFile(uri.toLocalFile());
}

void PortalScreenshotRequest::readFile(const QString& path)
{
    // An image of every screen at the highest scale is large: it is decoded on the thread pool.
    auto* watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, path] {
        const QImage image = watcher->result();
        watcher->deleteLater();
        if (image.isNull()) {
            finish(unavailable(QStringLiteral("cannot read the desktop portal's screenshot ") + path));
            return;
        }
        finish(PortalScreenshotOutcome{PortalScreenshotOutcome::Status::taken, image, QString()});
    });
    watcher->setFuture(QtConcurrent::run([path] {
        QImageReader reader(path);
        allowScreenshotSizes(reader); // the whole desktop: an 8K output alone is past Qt's own limit
        const QImage image = reader.read();
        // The file was made for this request only; nothing else will read it.
        QFile::remove(path);
        return image;
    }));
}

void PortalScreenshotRequest::finish(PortalScreenshotOutcome outcome)
{
    if (done_) {
        return;
    }
    done_ = true;
    if (!requestPath_.isEmpty()) {
        bus_.disconnect(QString::fromLatin1(portalService), requestPath_, QString::fromLatin1(requestInterface),
                        QStringLiteral("Response"), this, SLOT(response(uint, QVariantMap)));
    }
    emit finished(outcome);
    deleteLater();
}

} // namespace lumetrove
