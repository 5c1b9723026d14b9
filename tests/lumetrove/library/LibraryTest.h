#pragma once

#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "sqlite/Connection.h"
#include "sqlite/Statement.h"
#include "tests/lumetrove/Sandbox.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <gmock/gmock.h>
#include <memory>
#include <string>
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
