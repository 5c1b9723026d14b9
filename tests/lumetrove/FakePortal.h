#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariantMap>

namespace lumetrove::testing {

/// A session bus of its own (a private dbus-daemon that starts no services): nothing on it unless a test puts
/// it there, so a desktop portal is missing there whatever the desktop has.
class PrivateBus {
public:
    PrivateBus()
    {
        const QString config = directory_.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!directory_.isValid() || !file.open(QIODevice::WriteOnly)) {
            return;
        }
        file.write(
            QStringLiteral(
                "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
                " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
                "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                "<allow eavesdrop=\"true\"/>"
                "<allow own=\"*\"/></policy></busconfig>")
                .arg(directory_.path())
                .toUtf8());
        file.close();
        daemon_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + config,
                                                      QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (daemon_.waitForStarted(10000)) {
            while (!daemon_.canReadLine() && daemon_.waitForReadyRead(10000)) {
            }
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        }
    }
    ~PrivateBus()
    {
        for (const QString& name : names_) {
            QDBusConnection::disconnectFromBus(name);
        }
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& address() const { return address_; }

    /// A connection of its own to this bus, named `name` in this process.
    QDBusConnection connect(const QString& name)
    {
        if (address_.isEmpty()) {
            return QDBusConnection(name); // not connected
        }
        names_.append(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QTemporaryDir directory_;
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

/// Stands in for the desktop portal's Screenshot interface: answers each request with `response` and
/// `results` on the request's object path, as a portal does once the user has answered.
class FakeScreenshotPortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")

public:
    FakeScreenshotPortal(QDBusConnection bus, uint response, QVariantMap results = {})
        : bus_(std::move(bus)), response_(response), results_(std::move(results))
    {}

    /// Serves the portal on its bus; with `screenshotInterface` false, takes the portal's name only, as a portal
    /// without screenshot support would.
    bool serve(bool screenshotInterface = true)
    {
        if (screenshotInterface && !bus_.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
                                                        QDBusConnection::ExportAllSlots)) {
            return false;
        }
        return bus_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }

    /// Leaves the bus without answering what was asked.
    void leave() { bus_.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop")); }

    /// Whether requests are answered at all.
    bool answers = true;
    /// The options of the last request.
    QVariantMap lastOptions;
    int requests = 0;

public slots:
    QDBusObjectPath Screenshot(const QString& parentWindow, const QVariantMap& options, const QDBusMessage& message)
    {
        Q_UNUSED(parentWindow);
        ++requests;
        lastOptions = options;
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + QLatin1Char('/') +
                             options.value(QStringLiteral("handle_token")).toString();
        if (answers) {
            // The answer comes after the reply, as the user's does.
            QTimer::singleShot(10, this, [this, path] {
                QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.portal.Request"),
                                                                 QStringLiteral("Response"));
                signal << response_ << results_;
                bus_.send(signal);
            });
        }
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection bus_;
    uint response_;
    QVariantMap results_;
};

} // namespace lumetrove::testing
