#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

namespace lumetrove {

// Linux stand-in for grabbing the screen on Wayland: one non-interactive screenshot of the whole desktop
// through the desktop portal (org.freedesktop.portal.Screenshot), whose answer is also the permission.

/// What the portal answered.
struct PortalScreenshotOutcome {
    enum class Status {
        /// The screenshot was taken: `image` holds the whole desktop.
        taken,
        /// The user or the desktop refused (response 1).
        refused,
        /// No portal, no Screenshot interface, any other answer (response 2), or a file that cannot be read.
        unavailable,
    };
    Status status = Status::unavailable;
    QImage image;
    /// Why it is unavailable, for the log.
    QString detail;
};

/// One screenshot request to the portal over `bus`. The answer arrives as the signal Request::Response on an
/// object path made of the bus name and a token of ours, subscribed to before the call, so it is never
/// missed. Nothing blocks the calling thread: the call, the answer and the reading of the file (on the thread
/// pool) are all asynchronous. The portal's file is removed once read. `finished` is emitted once, then the
/// request deletes itself.
class PortalScreenshotRequest : public QObject {
    Q_OBJECT

public:
    static constexpr const char* portalService = "org.freedesktop.portal.Desktop";

    /// Starts the request; `done` runs once on this thread, unless `context` is gone by then. `taken`, when set,
    /// runs as soon as the portal has taken the screenshot, before its file is read.
    static void take(const QDBusConnection& bus, QObject* context, std::function<void(PortalScreenshotOutcome)> done,
                     std::function<void()> taken = {});

signals:
    /// The portal took the screenshot; its file is being read.
    void answered();
    void finished(const lumetrove::PortalScreenshotOutcome& outcome);

private slots:
    void response(uint code, const QVariantMap& results);

private:
    PortalScreenshotRequest(const QDBusConnection& bus, QObject* parent);
    void start();
    void listenOn(const QString& path);
    void finish(PortalScreenshotOutcome outcome);
    void readFile(const QString& path);

    QDBusConnection bus_;
    QString requestPath_;
    bool done_ = false;
};

/// The object path on which the portal answers a request with `token` made over the connection `uniqueName`
/// (":1.42" answers on ".../request/1_42/<token>").
QString portalRequestPath(const QString& uniqueName, const QString& token);

} // namespace lumetrove
