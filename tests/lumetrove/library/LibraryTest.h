#pragma once

#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "sqlite/Connection.h"
#include "sqlite/Statement.h"
#include "tests/lumetrove/Sandbox.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <chrono>
#include <condition_variable>
#include <gmock/gmock.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumetrove {

template <class T> void PrintTo(const StoreResult<T>& result, std::ostream* out)
{
    if (!result) {
        *out << "error " << static_cast<int>(result.error().kind()) << " (" << result.error().what() << ")";
    } else if constexpr (std::is_void_v<T>) {
        *out << "done";
    } else {
        *out << ::testing::PrintToString(*result);
    }
}

} // namespace lumetrove

namespace lumetrove::testing {

/// The kind of the error of a store operation's result; none when it has its value.
template <class Result> std::optional<StoreError::Kind> errorKind(const Result& result)
{
    return result ? std::nullopt : std::optional<StoreError::Kind>(result.error().kind());
}

/// A test with its own library directory and a store opened on its database file.
class LibraryTest : public SandboxTest {
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(libraryDirectory()));
    }

    QString databasePath() const { return libraryDirectory() + "/db.sqlite3"; }

    /// Opens (and migrates) the library file; what it printed is in `openOutput`.
    std::shared_ptr<ScreenshotsDB> openStore()
    {
        auto store = std::make_shared<ScreenshotsDB>();
        ::testing::internal::CaptureStdout();
        store->openDatabase(databasePath());
        openOutput = ::testing::internal::GetCapturedStdout();
        return store;
    }

    /// A second connection on the same file, for looking at what the store wrote.
    std::shared_ptr<sqlite::Connection> rawConnection()
    {
        return sqlite::Connection::openPath(databasePath().toStdString());
    }

    /// Column 0 of each row of `sql`, as text ("NULL" for NULL).
    std::vector<std::string> column(const std::string& sql)
    {
        std::vector<std::string> values;
        const auto statement = rawConnection()->prepare(sql);
        while (const auto row = statement->failableNext()) {
            const auto& value = (*row)[0];
            values.push_back(!value ? "NULL" : sqlite::describe(*value));
        }
        return values;
    }

    std::int64_t count(const std::string& sql) { return std::get<std::int64_t>(*rawConnection()->scalar(sql)); }

    /// A stored screenshot with an image file in the screenshots directory.
    qint64 addScreenshot(ScreenshotsDB& store, const QString& name, const QString& text = QString("some text"),
                         bool imported = false)
    {
        const QString directory = libraryDirectory() + "/Screenshots";
        QDir().mkpath(directory);
        const QString file = directory + "/" + name + ".png";
        QFile image(file);
        image.open(QIODevice::WriteOnly);
        image.write("png");
        image.close();
        return store
            .insertScreenshot({.name = name,
                               .path = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded),
                               .text = text,
                               .wasImported = imported})
            .value_or(-1);
    }

    /// FTS5's own check of the index against its content; throws `sqlite::Result` when they differ.
    void checkIndexIntegrity()
    {
        rawConnection()->executeScript(
            "INSERT INTO screenshots_fts(screenshots_fts, rank) VALUES('integrity-check', 1);");
    }

    std::string openOutput;
};

/// Runs the event loop until the manager's list is as new as every reload started so far (its constructor and
/// every added screenshot load on the thread pool).
inline void waitForList(ScreenshotsListManager& manager)
{
    const auto listed = std::make_shared<bool>(false);
    manager.whenListed([listed] { *listed = true; });
    ASSERT_TRUE(processEventsUntil([&] { return *listed && manager.listLoaded(); }));
}

/// Holds the connection of `store` (read when a repair begins) from the moment a repair in the background is
/// begun until `release`, so that a test acts while the repair waits. Records every repair notification.
class RepairHold {
public:
    explicit RepairHold(const std::shared_ptr<ScreenshotsDB>& store) : store_(store)
    {
        NotificationCenter::defaultCenter().addObserver(
            libraryRepairingNotification, &observer_, [this](const Notification& notification) {
                repairing.push_back(notification.userInfo.value(libraryRepairingKey).toBool());
                if (repairing.back() && !thread_.joinable()) {
                    hold();
                }
            });
    }
    ~RepairHold() { release(); }
    RepairHold(const RepairHold&) = delete;
    RepairHold& operator=(const RepairHold&) = delete;

    bool holding() const { return thread_.joinable(); }
    void release()
    {
        {
            const std::lock_guard lock(mutex_);
            released_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    std::vector<bool> repairing;

private:
    void hold()
    {
        thread_ = std::thread([this, db = store_->db()] {
            db->sync([&] {
                std::unique_lock lock(mutex_);
                held_ = true;
                wake_.notify_all();
                // Let go at the latest after a while, should a step of the test wait for the repair itself.
                wake_.wait_for(lock, std::chrono::seconds(30), [this] { return released_; });
            });
        });
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return held_; });
    }

    const std::shared_ptr<ScreenshotsDB>& store_;
    QObject observer_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool held_ = false;
    bool released_ = false;
    std::thread thread_;
};

/// A library test whose store is open on a fresh library.
class OpenLibraryTest : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        store = openStore();
        ASSERT_TRUE(store->db());
    }

    std::shared_ptr<ScreenshotsDB> store;
};

} // namespace lumetrove::testing
