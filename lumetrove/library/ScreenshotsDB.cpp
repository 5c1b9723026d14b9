// The library store's file: opening it, telling what is wrong with it, and starting anew from the images when
// it is damaged. The other parts: the schema (ScreenshotsDBSchema.cpp), the records of changes in flight
// (ScreenshotsDBJournal.cpp), the writes, the reads, the change log (LibraryChanges.cpp) and what they share
// (ScreenshotsDBParts.h), and the repair of a damaged library (ScreenshotsDBRepair.cpp).
#include "lumetrove/library/ScreenshotsDB.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/FileOperations.h"
#include "lumetrove/library/LibraryRepair.h"
#include "lumetrove/library/ScreenshotsDBParts.h"
#include "lumetrove/platform/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace lumetrove {

using namespace store;

namespace {

/// How long a write waits for another connection's lock on the library file before it fails.
constexpr double kBusyTimeoutSeconds = 5.0;

} // namespace

// Opening ---------------------------------------------------------------------------------------------------

ScreenshotsDB::ScreenshotsDB() = default;
ScreenshotsDB::~ScreenshotsDB()
{
    backgroundRepairRun_.waitForFinished();
}

const std::shared_ptr<ScreenshotsDB>& ScreenshotsDB::shared()
{
    static const std::shared_ptr<ScreenshotsDB> instance = [] {
        auto store = std::make_shared<ScreenshotsDB>();
        // The process-wide store is the window's: a library found damaged is rebuilt beside the window, which
        // comes up meanwhile and says so, not before it.
        store->setRepairsInBackground(true);
        store->openDatabase();
        return store;
    }();
    return instance;
}

void ScreenshotsDB::openDatabase()
{
    restrictDataDirectoryToOwner();
    openDatabase(databaseFilePath());
}

namespace {

QString quoted(const QString& text)
{
    return QStringLiteral("\u201c%1\u201d").arg(text);
}

/// Why the entry at `path` cannot serve as the library's file at all (a folder, something that is not a
/// file, a file that cannot be read); none when it can, or when there is nothing there yet.
std::optional<QString> unusableLibraryFile(const QString& path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0) {
        return std::nullopt;
    }
    if (S_ISDIR(status.st_mode)) {
        return QStringLiteral("%1 is a folder, not a library file.").arg(quoted(path));
    }
    // A link is followed, as SQLite follows it; what it leads to must be a file that can be read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return QStringLiteral("%1 cannot be read (%2).")
            .arg(quoted(path), QString::fromLocal8Bit(std::strerror(errno)));
    }
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    if (!regular) {
        return QStringLiteral("%1 is not a regular file.").arg(quoted(path));
    }
    return std::nullopt;
}

quint32 bigEndian(const QByteArray& bytes, int at, int length)
{
    quint32 value = 0;
    for (int i = 0; i < length; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

/// What the header of the database file at `path` shows to be wrong with it: not a database at all, or
/// shorter than the pages it says it holds. None for an empty file (a new library) or a sound header. Read
/// after SQLite opened the file, so that a rollback journal left by a killed write has been played back.
std::optional<QString> damageInHeader(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt; // told by the open itself
    }
    const qint64 size = file.size();
    if (size == 0) {
        return std::nullopt;
    }
    const QByteArray header = file.read(100);
    if (header.size() < 100 || !header.startsWith(QByteArrayView("SQLite format 3\0", 16))) {
        return QStringLiteral("it is not a database");
    }
    const quint32 pageSizeField = bigEndian(header, 16, 2);
    const qint64 pageSize = pageSizeField == 1 ? 65536 : pageSizeField;
    const quint32 changeCounter = bigEndian(header, 24, 4);
    const quint32 pageCount = bigEndian(header, 28, 4);
    const quint32 validFor = bigEndian(header, 92, 4);
    // The page count is only kept by SQLite versions that also write the change counter it is valid for.
    if (validFor == changeCounter && pageCount > 0 && qint64(pageCount) * pageSize > size) {
        return QStringLiteral("it is cut short: %1 of its %2 bytes are there")
            .arg(size)
            .arg(qint64(pageCount) * pageSize);
    }
    return std::nullopt;
}

/// A connection on the library file at `path`, read once: the first read tells a file that is not a database
/// (a corruption), and plays back what a killed write left.
StoreResult<std::shared_ptr<sqlite::Connection>> connect(const QString& path)
{
    return attempt([&] {
        std::shared_ptr<sqlite::Connection> db = sqlite::Connection::openPath(path.toStdString(), false);
        // Another reader of the file (a backup, a sqlite3 shell) holds its lock only briefly; waiting for it
        // keeps a capture's row from failing with "database is locked" and being lost.
        db->setBusyTimeout(kBusyTimeoutSeconds);
        db->scalar("SELECT count(*) FROM sqlite_master");
        return db;
    });
}

/// Makes an empty library file at `path`, readable by its owner only, unless something is there: SQLite would
/// make it as anyone's, and its journal files take its mode.
void createOwnerOnlyFile(const QString& path)
{
    const int created = ::open(QFile::encodeName(path).constData(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (created >= 0) {
        ::close(created);
    }
}

/// What a library started anew tells of the `given` images of the Screenshots folder it lists.
QString listedAgain(int given)
{
    return given == 1 ? QStringLiteral("The 1 screenshot found in the Screenshots folder is listed again; its text is "
                                       "being recognised again.")
                      : QStringLiteral("The %1 screenshots found in the Screenshots folder are listed again; their "
                                       "text is being recognised again.")
                            .arg(given);
}

/// Removes every thumbnail file of a library that is started anew: they are named after the ids of the rows
/// they were drawn for, and the new rows take ids anew.
void removeThumbnailFiles()
{
    if (const std::optional<QString> thumbnails = thumbnailsDirectory()) {
        for (const QString& name : QDir(*thumbnails).entryList({QStringLiteral("thumbnail-*.png")}, QDir::Files)) {
            QFile::remove(*thumbnails + QLatin1Char('/') + name);
        }
    }
}

} // namespace

void ScreenshotsDB::releaseCaches()
{
    // A repair holds the connection: the cache waits for the next release rather than the caller for it.
    if (db_ && !repairingInBackground()) {
        try {
            db_->runStatement("PRAGMA shrink_memory");
        } catch (const std::exception&) {
            // Memory kept is no fault: the next release tries again.
        }
    }
}

void ScreenshotsDB::openDatabase(const std::optional<QString>& path)
{
    if (!path) {
        systemLog(QStringLiteral("Failed to get DB path"));
        return;
    }
    // Something in the library's place that is no library file is told and left as it is: setting it aside
    // could hide a library the user keeps there on purpose.
    if (const std::optional<QString> unusable = unusableLibraryFile(*path)) {
        systemLog(QStringLiteral("Cannot open the library: ") + *unusable);
        setOpenProblem(LibraryOpenProblem{
            QStringLiteral("The library cannot be opened"),
            *unusable + QStringLiteral(" Lumetrove changed nothing; screenshots cannot be saved until it is moved "
                                       "away or made readable, and Lumetrove is started again.")});
        return;
    }
    // The library of the data directory, whose Screenshots folder holds its images (a library made beside it
    // for a repair holds none of its own). An empty file is as good as none: a run ended before it made one.
    const bool missing = databaseFilePath() == path && (!entryExists(*path) || QFileInfo(*path).size() == 0);
    createOwnerOnlyFile(*path);
    std::optional<QString> damage;
    if (StoreResult<std::shared_ptr<sqlite::Connection>> connection = connect(*path)) {
        db_ = *std::move(connection);
        damage = damageInHeader(*path);
    } else if (connection.error().kind() == StoreError::Kind::corruption) {
        damage = connection.error().description();
    } else {
        logFailure(connection.error(), printed);
        return;
    }
    if (damage) {
        startAnew(*path, *damage);
        repairsReady_ = true;
        return;
    }
    std::optional<QString> found = lookForDamage();
    if (!found) {
        migrate();
        // Damage that the migration or the notes of an earlier run met, and the look had not reached.
        found = damageMetWhileOpening();
    }
    if (found) {
        mendOnOpening(*found);
        return;
    }
    if (missing) {
        giveBackImagesOfMissingLibrary(*path);
    }
    repairsReady_ = true;
}

std::optional<QString> ScreenshotsDB::lookForDamage()
{
    // A file whose header is sound may still have damaged pages: a list that cannot be read, captures that
    // cannot be saved. Looked for briefly now; an operation that meets damage later has it mended then.
    DamageFound look = findDamage(*db_, openingCheckTime);
    if (!look.staleIndex.empty()) {
        // Only an index is out of step with the screenshots, and can be made again from them.
        systemLog(QStringLiteral("Rebuilding index"));
        (void)run(*this, printed, [&](sqlite::Connection& db) {
            db.executeScript("INSERT INTO " + look.staleIndex + "(" + look.staleIndex + ") VALUES('rebuild');");
        });
        look = findDamage(*db_, openingCheckTime);
    }
    return look.damage;
}

std::optional<LibraryOpenProblem> ScreenshotsDB::openProblem() const
{
    const std::lock_guard lock(openingMutex_);
    return openProblem_;
}

void ScreenshotsDB::setOpenProblem(const LibraryOpenProblem& problem)
{
    const std::lock_guard lock(openingMutex_);
    openProblem_ = problem;
}

std::optional<QString> ScreenshotsDB::damageMetWhileOpening()
{
    const std::lock_guard lock(openingMutex_);
    return std::exchange(damageWhileOpening_, std::nullopt);
}

void ScreenshotsDB::startAnew(const QString& path, const QString& damage)
{
    db_.reset();
    const QString kept = damagedFilePath(path);
    if (const std::optional<QString> error = moveWithoutReplacing(path, kept)) {
        systemLog(QStringLiteral("Cannot set the damaged library aside: ") + *error);
        setOpenProblem(LibraryOpenProblem{
            QStringLiteral("The library is damaged"),
            QStringLiteral("%1 is damaged (%2) and could not be set aside (%3). Screenshots cannot be saved until "
                           "it is moved away and Lumetrove is started again.")
                .arg(quoted(path), damage, *error)});
        return;
    }
    // A journal beside the file belongs to it: left behind, SQLite would play it back into the new library.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        if (entryExists(path + QLatin1String(suffix))) {
            moveWithoutReplacing(path + QLatin1String(suffix), kept + QLatin1String(suffix));
        }
    }
    systemLog(QStringLiteral("The library was damaged (") + damage + QStringLiteral("); it is kept as ") + kept +
              QStringLiteral(" and a new library is started"));
    removeThumbnailFiles();
    createOwnerOnlyFile(path);
    StoreResult<std::shared_ptr<sqlite::Connection>> connection = connect(path);
    if (!connection) {
        logFailure(connection.error(), printed);
        return;
    }
    db_ = *std::move(connection);
    migrate();
    const int given = giveBackImages();
    setOpenProblem(LibraryOpenProblem{
        QStringLiteral("The library was damaged and has been started anew"),
        QStringLiteral("The library file could not be read (%1). It is kept, unchanged, as %2. %3 Names, "
                       "summaries, keywords and folders stayed in the damaged file.")
            .arg(damage, quoted(QFileInfo(kept).fileName()), listedAgain(given))});
}

void ScreenshotsDB::giveBackImagesOfMissingLibrary(const QString& path)
{
    removeThumbnailFiles();
    const int given = giveBackImages();
    if (given == 0) {
        return; // a first start, or a library that held nothing
    }
    systemLog(
        QStringLiteral("No library file was found; %1 images of the Screenshots folder are listed again").arg(given));
    setOpenProblem(LibraryOpenProblem{
        QStringLiteral("The library file was missing and has been started anew"),
        QStringLiteral("No library file was found at %1. %2 Names, summaries, keywords and folders were kept in the "
                       "missing file only.")
            .arg(quoted(path), listedAgain(given))});
}

int ScreenshotsDB::giveBackImages(const QSet<QString>& listed)
{
    const std::optional<QString> directory = screenshotsDirectory();
    if (!directory || !db_ || !fileJournal_) {
        return 0;
    }
    struct Found {
        QString path;
        QString name;
        QDateTime created;
    };
    std::vector<Found> found;
    for (const QFileInfo& file : QDir(*directory).entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
        const QString suffix = file.suffix().toLower();
        if (file.isSymLink() || listed.contains(file.absoluteFilePath()) ||
            (suffix != QLatin1String("png") && suffix != QLatin1String("jpg") && suffix != QLatin1String("jpeg"))) {
            continue;
        }
        // The earlier of the two: a file copied back from a backup was born at the copy, but kept its time.
        const QDateTime born = file.birthTime();
        const QDateTime modified = file.lastModified();
        found.push_back(Found{file.absoluteFilePath(), file.completeBaseName(),
                              born.isValid() && born < modified ? born : modified});
    }
    // Oldest first, so that the new ids follow the order in which the screenshots were made.
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.created < b.created; });
    const Schema& s = schema();
    const StoreResult<void> stored = run(*this, printed, [&](sqlite::Connection& db) {
        db.transaction([&] {
            for (const Found& image : found) {
                const std::int64_t id = db_->runInsert(s.screenshots.insertValues(
                    sqlite::assignOptionalValue(s.name, utf8(std::optional<QString>(image.name))),
                    sqlite::assignValue(s.path, utf8(QUrl::fromLocalFile(image.path).toString(QUrl::FullyEncoded))),
                    sqlite::assignOptionalValue(s.text, OptionalText(std::string())),
                    sqlite::assignValue(s.wasImported, true),
                    sqlite::assignOptionalValue(s.createdAt, utf8(std::optional<QString>(image.created.toUTC().toString(
                                                                 QStringLiteral("yyyy-MM-dd HH:mm:ss")))))));
                db_->runStatement("INSERT OR REPLACE INTO pending_text_recognition (screenshot_id) VALUES (?)", id);
            }
        });
    });
    return stored ? static_cast<int>(found.size()) : 0;
}

} // namespace lumetrove
