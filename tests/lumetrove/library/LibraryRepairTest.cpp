// A library file whose header is sound but some of whose pages are damaged is found out, on opening or by the
// operation that meets the damage, and mended: the damaged file is kept aside, the user is told what was
// recovered and what was lost, and the operation that met the damage still does its work.
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/NewImageJournal.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "sqlite/RowIterator.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QtConcurrent/QtConcurrentRun>
#include <set>

namespace lumetrove {
namespace {

using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr int shots = 8;

class LibraryRepairTest : public testing::LibraryTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(LibraryTest::SetUp());
        NotificationCenter::defaultCenter().addObserver(
            libraryProblemNotification, &observer, [this](const Notification& notification) {
                problems << notification.userInfo.value(libraryProblemMessageKey).toString();
            });
    }
    QString screenshotsDirectory() const { return libraryDirectory() + "/Screenshots"; }

    /// A library of `shots` screenshots named "Shot i" whose images are "image-i.png" (so that a row read back
    /// is told from one listed again from its image), with long texts and two folders holding some of them.
    std::shared_ptr<ScreenshotsDB> makeLibrary()
    {
        auto store = openStore();
        QDir().mkpath(screenshotsDirectory());
        const qint64 folder = store->insertFolder("Receipts", false, std::nullopt).value_or(-1);
        store->insertFolder("Invoices", true, QString("invoice")).value();
        for (int i = 0; i < shots; ++i) {
            const QString file = screenshotsDirectory() + QString("/image-%1.png").arg(i);
            QFile image(file);
            EXPECT_TRUE(image.open(QIODevice::WriteOnly));
            image.write("png");
            image.close();
            const qint64 id = store
                                  ->insertScreenshot({.name = QString("Shot %1").arg(i),
                                                      .path = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded),
                                                      .text = QString("receipt words of shot %1 ").arg(i).repeated(80)})
                                  .value_or(-1);
            if (i % 2 == 0) {
                store->insertFolderScreenshot(id, folder).value();
            }
        }
        return store;
    }

    /// `dd if=/dev/urandom of=db.sqlite3 bs=4096 seek=3 count=6 conv=notrunc`.
    void damagePages()
    {
        QFile file(databasePath());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_GT(file.size(), 9 * 4096);
        QByteArray noise(6 * 4096, '\0');
        QRandomGenerator random(37);
        random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        ASSERT_TRUE(file.seek(3 * 4096));
        file.write(noise);
    }

    /// Overwrites the first page of each of these tables or indexes.
    void damageRootPages(const std::string& names)
    {
        const std::vector<std::string> pages =
            column("SELECT rootpage FROM sqlite_master WHERE rootpage > 0 AND name IN (" + names + ")");
        ASSERT_FALSE(pages.empty());
        QFile file(databasePath());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        for (const std::string& page : pages) {
            ASSERT_TRUE(file.seek((std::stoll(page) - 1) * 4096));
            file.write(QByteArray(4096, '\x5a'));
        }
    }

    /// As another writer would, so that an open connection reads the file again instead of its cached pages.
    void bumpChangeCounter()
    {
        QFile file(databasePath());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek(24));
        QByteArray counter = file.read(4);
        counter[3] = static_cast<char>(counter[3] + 1);
        ASSERT_TRUE(file.seek(24));
        file.write(counter);
    }

    QStringList keptAside() const
    {
        return QDir(libraryDirectory()).entryList({QStringLiteral("db.sqlite3.damaged-*")}, QDir::Files, QDir::Name);
    }

    QByteArray bytesOf(const QString& path)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }

    /// Every image of the screenshots directory appears in exactly one row, and every row's image is there.
    void expectEveryImageListedOnce()
    {
        std::multiset<std::string> listed;
        for (const std::string& path : column("SELECT path FROM screenshots")) {
            listed.insert(QUrl(QString::fromStdString(path.substr(1, path.size() - 2))).toLocalFile().toStdString());
        }
        std::multiset<std::string> images;
        for (QDirIterator files(screenshotsDirectory(), QDir::Files); files.hasNext();) {
            images.insert(files.next().toStdString());
        }
        EXPECT_EQ(listed, images);
    }

    /// Captures an image as the capture does: its note, its file, its row through the list manager.
    std::optional<QString> capture(ScreenshotsDB& store, ScreenshotsListManager& manager, const QString& name)
    {
        const QString file = screenshotsDirectory() + "/" + name + ".png";
        if (std::optional<QString> error = writeNewImage(&store, file, "png", name, false)) {
            return error;
        }
        CapturedScreenshotInfo info{name + ".png", QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded),
                                    "captured text", std::nullopt, std::nullopt};
        manager.addScreenshot(info, false);
        return std::nullopt;
    }

    QObject observer;
    QStringList problems;
};

TEST_F(LibraryRepairTest, ALibraryWithDamagedPagesIsRepairedOnOpeningAndTakesCapturesAgain)
{
    struct Case {
        const char* what;
        std::function<void()> damage;
        /// Rows read back without their text, and images listed again for rows lost; -1: as the pages fall.
        int withoutText, fromImages;
    };
    const std::vector<Case> cases{
        {"pages 4 to 9", [this] { damagePages(); }, -1, -1},
        // The rows' names and details are still in the list index; their text is not.
        {"the screenshots table", [this] { damageRootPages("'screenshots'"); }, shots, 0},
        {"the table and its list index", [this] { damageRootPages("'screenshots', 'screenshots_list'"); }, 0, shots},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        QDir(libraryDirectory()).removeRecursively();
        QDir().mkpath(libraryDirectory());
        makeLibrary().reset();
        ASSERT_NO_FATAL_FAILURE(each.damage());
        const QByteArray damaged = bytesOf(databasePath());

        ::testing::internal::CaptureStderr();
        auto store = openStore();
        const std::string logged = ::testing::internal::GetCapturedStderr();
        ASSERT_TRUE(store->db());
        EXPECT_THAT(logged, HasSubstr("The library is damaged: "));
        ASSERT_TRUE(store->openProblem());
        EXPECT_EQ(store->openProblem()->title, "The library was damaged and has been repaired");
        const std::string told = store->openProblem()->details.toStdString();
        EXPECT_THAT(told, AllOf(ContainsRegex("[0-9]+ screenshots? w(as|ere) recovered"), Not(HasSubstr("(code:"))));

        // The damaged file is kept as it was; the library is sound and holds what could be read, and every image.
        const QStringList kept = keptAside();
        ASSERT_EQ(kept.size(), 1);
        EXPECT_EQ(bytesOf(libraryDirectory() + "/" + kept[0]), damaged);
        EXPECT_THAT(told, HasSubstr(kept[0].toStdString()));
        EXPECT_EQ(column("PRAGMA integrity_check"), std::vector<std::string>{"\"ok\""});
        EXPECT_NO_THROW(checkIndexIntegrity());
        expectEveryImageListedOnce();
        const std::int64_t recovered = count("SELECT count(*) FROM screenshots WHERE name LIKE 'Shot %'");
        const std::int64_t fromImages = count("SELECT count(*) FROM screenshots WHERE name LIKE 'image-%'");
        const std::int64_t withoutText = count("SELECT count(*) FROM screenshots WHERE name LIKE 'Shot %' AND "
                                               "id IN (SELECT screenshot_id FROM pending_text_recognition)");
        EXPECT_EQ(recovered + fromImages, shots);
        if (each.fromImages >= 0) {
            EXPECT_EQ(fromImages, each.fromImages);
            EXPECT_EQ(withoutText, each.withoutText);
        }
        EXPECT_THAT(told, HasSubstr(std::to_string(recovered) + " screenshot"));
        if (fromImages > 0) {
            EXPECT_THAT(told, HasSubstr(std::to_string(fromImages) + " images of the Screenshots folder"));
            EXPECT_THAT(told, HasSubstr(std::to_string(fromImages) + " screenshots could not be read"));
        }
        if (withoutText > 0) {
            EXPECT_THAT(told, HasSubstr("without the recognised text"));
        }
        // A row read whole keeps its recognised text and is found by it; the others await their text.
        EXPECT_EQ(count("SELECT count(*) FROM screenshots WHERE text LIKE 'receipt words%' AND id IN "
                        "(SELECT rowid FROM screenshots_fts WHERE screenshots_fts MATCH 'receipt')"),
                  recovered - withoutText);
        EXPECT_EQ(count("SELECT count(*) FROM pending_text_recognition"), withoutText + fromImages);

        ScreenshotsListManager manager(store);
        testing::waitForList(manager);
        EXPECT_EQ(manager.screenshots().size(), shots);
        EXPECT_FALSE(capture(*store, manager, "After repair"));
        testing::waitForList(manager);
        EXPECT_EQ(count("SELECT count(*) FROM screenshots"), shots + 1);
        EXPECT_EQ(manager.screenshots().size(), shots + 1);
        EXPECT_TRUE(problems.isEmpty()) << problems.join("\n").toStdString();

        // Opened again, the library is sound and nothing more is set aside.
        store.reset();
        EXPECT_FALSE(openStore()->openProblem());
        EXPECT_EQ(keptAside().size(), 1);
    }
}

TEST_F(LibraryRepairTest, DamageThatAppearsWhileOpenIsRepairedByTheNextWriteAndEachDamagedFileIsKept)
{
    auto store = makeLibrary();
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    QByteArray firstKept;
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_NO_FATAL_FAILURE(damagePages());
        ASSERT_NO_FATAL_FAILURE(bumpChangeCounter());
        problems.clear();
        ::testing::internal::CaptureStdout();
        const std::optional<QString> error = capture(*store, manager, QString("Capture-%1").arg(round));
        testing::waitForList(manager);
        ::testing::internal::GetCapturedStdout();
        EXPECT_FALSE(error) << error->toStdString();
        EXPECT_EQ(count("SELECT count(*) FROM screenshots"), shots + round)
            << "the capture that met the damage has its row";
        ASSERT_EQ(problems.size(), 1) << problems.join("\n").toStdString();
        EXPECT_THAT(problems[0].toStdString(),
                    AllOf(HasSubstr("The library was damaged and has been repaired"), Not(HasSubstr("(code:"))));
        EXPECT_EQ(column("PRAGMA integrity_check"), std::vector<std::string>{"\"ok\""});
        expectEveryImageListedOnce();
        EXPECT_EQ(manager.screenshots().size(), count("SELECT count(*) FROM screenshots"));
        const QStringList kept = keptAside();
        ASSERT_EQ(kept.size(), round) << "an earlier damaged file is never replaced";
        if (round == 1) {
            firstKept = bytesOf(libraryDirectory() + "/" + kept[0]);
        } else {
            EXPECT_EQ(bytesOf(libraryDirectory() + "/" + kept[0]), firstKept);
        }
    }
}

TEST_F(LibraryRepairTest, WhenTheRepairFailsTheCaptureIsToldInPlainWords)
{
    auto store = makeLibrary();
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    // A folder where the new library is to be made: the repair cannot go on.
    ASSERT_TRUE(QDir().mkpath(databasePath() + ".repairing"));
    // Damage where a capture writes first: the note of its new image.
    ASSERT_NO_FATAL_FAILURE(damageRootPages("'pending_new_images', 'sqlite_autoindex_pending_new_images_1'"));
    ASSERT_NO_FATAL_FAILURE(bumpChangeCounter());

    ::testing::internal::CaptureStdout();
    const std::optional<QString> error = capture(*store, manager, "Lost");
    ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, "the library file is damaged and could not be repaired");
    ASSERT_FALSE(problems.isEmpty());
    for (const QString& problem : problems) {
        EXPECT_THAT(problem.toStdString(), Not(ContainsRegex("code: |malformed|vtable")));
    }
    EXPECT_THAT(problems[0].toStdString(), HasSubstr("could not be repaired"));
    // The damaged file is kept, and the capture, refused, left no image without a row behind.
    EXPECT_EQ(keptAside().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(screenshotsDirectory() + "/Lost.png"));
}

TEST_F(LibraryRepairTest, DamageMetOnTheMainThreadIsRepairedInTheBackgroundWhileTheWindowIsToldSo)
{
    auto store = makeLibrary();
    store->setRepairsInBackground(true);
    QObject repairObserver;
    std::vector<bool> repairing;
    // A read of the window's, stepped row by row, is under way on the connection as the repair begins.
    std::optional<sqlite::RowIterator> reading;
    NotificationCenter::defaultCenter().addObserver(
        libraryRepairingNotification, &repairObserver, [&](const Notification& notification) {
            repairing.push_back(notification.userInfo.value(libraryRepairingKey).toBool());
            if (repairing.size() == 1) {
                reading.emplace(store->db()->prepareRowIterator("SELECT name FROM sqlite_master"));
                ASSERT_TRUE(reading->failableNext());
            }
        });
    ASSERT_NO_FATAL_FAILURE(damageRootPages("'pending_new_images', 'sqlite_autoindex_pending_new_images_1'"));
    ASSERT_NO_FATAL_FAILURE(bumpChangeCounter());

    // The capture that meets the damage on this thread is not kept, and says why; the repair goes on elsewhere.
    ::testing::internal::CaptureStdout();
    const QString file = screenshotsDirectory() + "/Met.png";
    const std::optional<QString> error = writeNewImage(store.get(), file, "png", "Met", false);
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, "the library is damaged and is being repaired");
    EXPECT_FALSE(QFileInfo::exists(file));
    ASSERT_TRUE(reading);
    // The repair waits for the read to end rather than failing for it.
    testing::processEventsUntil([&] { return repairing.size() == 2; }, 1000);
    reading.reset();
    ASSERT_TRUE(testing::processEventsUntil([&] { return repairing.size() == 2; }, 30000));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(repairing, (std::vector<bool>{true, false}));
    EXPECT_FALSE(store->repairingInBackground());

    // Mended: told in plain words, every screenshot there, and the next capture kept.
    ASSERT_TRUE(testing::processEventsUntil(
        [&] { return problems.join("\n").contains("The library was damaged and has been repaired"); }));
    EXPECT_EQ(keptAside().size(), 1);
    EXPECT_EQ(column("PRAGMA integrity_check"), std::vector<std::string>{"\"ok\""});
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), shots);
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    EXPECT_FALSE(capture(*store, manager, "Again"));
    testing::waitForList(manager);
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), shots + 1);
}

TEST_F(LibraryRepairTest, ACaptureMadeWhileARepairRunsIsListedOnceWhenItEnds)
{
    auto store = makeLibrary();
    store->setRepairsInBackground(true);
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    // One capture is saved, its note written, just before the damage takes its note; another is made while the
    // repair runs. The capture engine saves on a thread of its own, and hands the record on to the list.
    const QString before = screenshotsDirectory() + "/Before.png";
    ASSERT_FALSE(writeNewImage(store.get(), before, "png", "Before", false));
    ASSERT_NO_FATAL_FAILURE(damageRootPages("'pending_new_images', 'sqlite_autoindex_pending_new_images_1'"));
    ASSERT_NO_FATAL_FAILURE(bumpChangeCounter());

    testing::RepairHold hold(store);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(writeNewImage(store.get(), screenshotsDirectory() + "/Met.png", "png", "Met", false));
    ASSERT_TRUE(hold.holding());
    const QString during = screenshotsDirectory() + "/During.png";
    QFuture<std::optional<QString>> saved =
        QtConcurrent::run([&] { return writeNewImage(store.get(), during, "png", "During", false); });
    ASSERT_TRUE(testing::processEventsUntil([&] { return saved.isFinished(); })) << "a capture does not wait";
    EXPECT_FALSE(saved.result());
    for (const QString& file : {before, during}) {
        const QString name = QFileInfo(file).fileName();
        manager.addScreenshot(
            {name, QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded), "captured text", std::nullopt, std::nullopt},
            false);
    }
    hold.release();
    ASSERT_TRUE(testing::processEventsUntil([&] { return !store->repairingInBackground(); }));
    testing::waitForList(manager);
    ::testing::internal::GetCapturedStdout();

    expectEveryImageListedOnce();
    EXPECT_EQ(manager.screenshots().size(), shots + 2);
    EXPECT_EQ(count("SELECT count(*) FROM pending_new_images"), 0);
}

} // namespace
} // namespace lumetrove
