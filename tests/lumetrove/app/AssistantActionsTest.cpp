#include "lumetrove/app/AssistantActions.h"

#include "tests/lumetrove/Sandbox.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QUrlQuery>
#include <QVariantMap>
#include <gmock/gmock.h>

namespace lumetrove {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

/// Stands in for the browser and the file manager: records each URL that the desktop is asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

/// A notification server on a private bus.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<std::pair<QString, QString>> shown;

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
                const QVariantMap&, int)
    {
        shown.append({summary, body});
        return static_cast<uint>(shown.size());
    }
};

class AssistantActionsTest : public testing::SandboxTest {
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        for (const char* scheme : {"https", "file"}) {
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &urls_, "open");
        }
        // No notification service: every notification goes to the fallback.
        setNotificationBus(QDBusConnection(QStringLiteral("lumetrove-test-no-bus")));
        setNotificationFallback([this](const QString& title, const QString& body) { fallback_.append({title, body}); });
    }

    void TearDown() override
    {
        for (const char* scheme : {"https", "file"}) {
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        }
        setNotificationFallback({});
        setNotificationBus(QDBusConnection(QStringLiteral("lumetrove-test-no-bus")));
        SandboxTest::TearDown();
    }

    UrlRecorder urls_;
    QList<std::pair<QString, QString>> fallback_;
};

TEST(WebSearchURLTest, TheTextIsOneQueryValue)
{
    const struct {
        QString text;
        const char* query;
    } cases[] = {
        {"C++ & Rust", "C%2B%2B%20%26%20Rust"},
        {"first line\nsecond line", "first%20line%20second%20line"},
        {"a=b?c#d/e", "a%3Db%3Fc%23d%2Fe"},
        {"carriage\rreturn", "carriage%0Dreturn"},
        {QStringLiteral("café 100%"), "caf%C3%A9%20100%25"},
        {"plain-text_1.0~", "plain-text_1.0~"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const std::optional<QUrl> url = webSearchURL(c.text);
        ASSERT_TRUE(url);
        EXPECT_EQ(url->toEncoded().toStdString(), std::string(webSearchPrefix) + c.query);
        EXPECT_EQ(url->path(), QStringLiteral("/search"));
        // Read back as a query, the value is the whole text with its line feeds as blanks.
        EXPECT_EQ(QUrlQuery(*url).queryItemValue("q", QUrl::FullyDecoded), QString(c.text).replace('\n', ' '));
    }
}

TEST_F(AssistantActionsTest, WebSearchOpensTheSearchOrSaysThereIsNoText)
{
    searchRecognizedText(QStringLiteral("C++ & Rust"));
    ASSERT_EQ(urls_.opened.size(), 1);
    EXPECT_EQ(urls_.opened[0], *webSearchURL(QStringLiteral("C++ & Rust")));
    EXPECT_TRUE(fallback_.isEmpty()) << "a search that opens shows no notification";

    ::testing::internal::CaptureStdout();
    searchRecognizedText(QString());
    const std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(urls_.opened.size(), 1);
    EXPECT_THAT(fallback_, ElementsAre(Pair("Web search failed", "No text to search found")));
    EXPECT_THAT(output, HasSubstr("Error showing notification: "));
}

TEST_F(AssistantActionsTest, CopyPutsTheTextUnchangedOnTheClipboard)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("earlier"));

    copyRecognizedText(QString());
    EXPECT_EQ(clipboard->text(), QStringLiteral("earlier")) << "nothing to copy leaves the clipboard alone";

    copyRecognizedText(QStringLiteral("  two\nlines  "));
    EXPECT_EQ(clipboard->text(), QStringLiteral("  two\nlines  "));

    EXPECT_THAT(fallback_, ElementsAre(Pair("Copy text failed", "No text found"),
                                       Pair("Text Copied", "Text copied to clipboard")));
}

TEST_F(AssistantActionsTest, OpenFolderShowsTheScreenshotsDirectory)
{
    openScreenshotsFolder();
    ASSERT_EQ(urls_.opened.size(), 1);
    EXPECT_EQ(urls_.opened[0], QUrl::fromLocalFile(libraryDirectory() + QStringLiteral("/Screenshots")));
}

TEST_F(AssistantActionsTest, NotificationsGoToTheDesktopsNotificationService)
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        GTEST_SKIP() << "dbus-daemon is not installed";
    }
    QProcess bus;
    bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    ASSERT_TRUE(bus.waitForStarted());
    ASSERT_TRUE(testing::processEventsUntil([&] { return bus.canReadLine(); }));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();

    NotificationServer server;
    {
        QDBusConnection serverSide = QDBusConnection::connectToBus(address, QStringLiteral("lumetrove-test-server"));
        ASSERT_TRUE(serverSide.isConnected());
        ASSERT_TRUE(serverSide.registerService(QStringLiteral("org.freedesktop.Notifications")));
        ASSERT_TRUE(serverSide.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                              QDBusConnection::ExportAllSlots));
        QDBusConnection clientSide = QDBusConnection::connectToBus(address, QStringLiteral("lumetrove-test-client"));
        ASSERT_TRUE(clientSide.isConnected());
        setNotificationBus(clientSide);

        ::testing::internal::CaptureStdout();
        copyRecognizedText(QStringLiteral("words"));
        EXPECT_TRUE(testing::processEventsUntil([&] { return !server.shown.isEmpty(); }));
        testing::processEventsUntil([] { return false; }, 200);
        EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("Notification permission granted.\n"));
        EXPECT_THAT(server.shown, ElementsAre(Pair("Text Copied", "Text copied to clipboard")));
        EXPECT_TRUE(fallback_.isEmpty());

        // The service going away is only reported, and the fallback shows the notification.
        serverSide.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        ::testing::internal::CaptureStdout();
        searchRecognizedText(QString());
        EXPECT_TRUE(testing::processEventsUntil([&] { return !fallback_.isEmpty(); }));
        EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("Error showing notification: "));
        EXPECT_THAT(fallback_, ElementsAre(Pair("Web search failed", "No text to search found")));
        setNotificationBus(QDBusConnection(QStringLiteral("lumetrove-test-no-bus")));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("lumetrove-test-client"));
    QDBusConnection::disconnectFromBus(QStringLiteral("lumetrove-test-server"));
    bus.terminate();
    bus.waitForFinished();
}

} // namespace
} // namespace lumetrove

#include "AssistantActionsTest.moc"
