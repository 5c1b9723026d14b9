#include "lumetrove/library/DateRange.h"
#include "lumetrove/library/FullTextSearch.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QTimeZone>
#include <cstdlib>
#include <ctime>

namespace lumetrove {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Search patterns ----------------------------------------------------------------------------------------

struct PatternCase {
    const char* label;
    std::optional<QString> keywords;
    std::optional<QString> search;
    std::optional<QString> expected;
};

TEST(FullTextSearchTest, Patterns)
{
    const QString hi = "text:\"hi\"* OR\nname:\"hi\"* OR\nkeywords:\"hi\"* OR\ndescription:\"hi\"*";
    const QString cat = "text:\"cat\"* OR\nname:\"cat\"* OR\nkeywords:\"cat\"* OR\ndescription:\"cat\"*";
    const QString dog = "text:\"dog\"* OR\nname:\"dog\"* OR\nkeywords:\"dog\"* OR\ndescription:\"dog\"*";
    const std::vector<PatternCase> cases{
        {"nothing", std::nullopt, std::nullopt, std::nullopt},
        {"empty filter, no search", QString(""), std::nullopt, std::nullopt},
        {"search only", std::nullopt, "hi", hi},
        {"empty filter counts as none", QString(""), "hi", hi},
        {"empty search is still a search", std::nullopt, QString(""),
         "text:\"\"* OR\nname:\"\"* OR\nkeywords:\"\"* OR\ndescription:\"\"*"},
        {"quotes are doubled", std::nullopt, "a\"b",
         "text:\"a\"\"b\"* OR\nname:\"a\"\"b\"* OR\nkeywords:\"a\"\"b\"* OR\ndescription:\"a\"\"b\"*"},
        {"keywords split on spaces", QString("cat  dog "), std::nullopt, cat + " OR " + dog},
        {"keywords of blanks", QString("   "), std::nullopt, QString("")},
        {"keywords and search", QString("cat dog"), "hi", "(" + cat + " OR " + dog + ") AND (" + hi + ")"},
        {"blank keywords and search", QString("  "), "hi", hi},
        {"control characters are dropped", std::nullopt, QChar(0) + QString("h\ti") + QChar(0x7f), hi},
    };
    for (const PatternCase& test : cases) {
        SCOPED_TRACE(test.label);
        EXPECT_EQ(ftsSearchQuery(test.keywords, test.search), test.expected);
    }
    // Whole words, for the porter index: the same pieces without the asterisk.
    EXPECT_EQ(ftsSearchQuery(QString("cat"), "hi", false),
              "(text:\"cat\" OR\nname:\"cat\" OR\nkeywords:\"cat\" OR\ndescription:\"cat\") AND (text:\"hi\" OR\n"
              "name:\"hi\" OR\nkeywords:\"hi\" OR\ndescription:\"hi\")");
}

TEST(FullTextSearchTest, SeveralWordsMustAllMatchAndOnlyTheLastIsAPrefix)
{
    // One column filter for all the words: each word may stand in any of the four columns.
    const QString columns = "{text name keywords description} : ";
    EXPECT_EQ(ftsSearchQuery(std::nullopt, " invoice \t a\"b saff "),
              columns + "(\"invoice\" AND \"a\"\"b\" AND \"saff\"*)");
    EXPECT_EQ(ftsSearchQuery(std::nullopt, "invoice saff", false), columns + "(\"invoice\" AND \"saff\")");
    EXPECT_EQ(ftsSearchQuery(QString("cat"), "invoice saff", false),
              "(text:\"cat\" OR\nname:\"cat\" OR\nkeywords:\"cat\" OR\ndescription:\"cat\") AND (" + columns +
                  "(\"invoice\" AND \"saff\"))");
    // Each index is asked for each condition: the words before the last as whole words, the last one both ways.
    EXPECT_EQ(ftsSearchConditions(std::nullopt, "invoice saff"),
              (std::vector<MatchPatterns>{{columns + "(\"invoice\")", std::nullopt},
                                          {columns + "(\"saff\")", columns + "(\"saff\"*)"}}));
    // One word, and a smart folder's keywords, with one column filter too.
    EXPECT_EQ(ftsSearchConditions(QString("cat  dog"), "saff"),
              (std::vector<MatchPatterns>{{columns + "(\"cat\" OR \"dog\")", columns + "(\"cat\"* OR \"dog\"*)"},
                                          {columns + "(\"saff\")", columns + "(\"saff\"*)"}}));
    // Pieces that hold no letter or digit, and repeated words, are no conditions.
    EXPECT_EQ(searchWords(" -- invoice & invoice saff! "), (QStringList{"invoice", "saff!"}));
}

TEST(FullTextSearchTest, AVeryLongSearchTextIsSearchedByItsFirstWords)
{
    QString pasted;
    for (int index = 0; pasted.size() < 100'000; ++index) {
        pasted += QString("word%1 ").arg(index);
    }
    const QStringList words = searchWords(pasted);
    ASSERT_EQ(words.size(), maximumSearchWords);
    EXPECT_EQ(words.front(), "word0");
    EXPECT_EQ(words.back(), QString("word%1").arg(maximumSearchWords - 1));
    // The patterns grow with the words kept, not with the text.
    EXPECT_LT(ftsSearchQuery(std::nullopt, pasted)->size(), 2000);
    EXPECT_LT(ftsSearchQuery(QString("cat"), pasted, false)->size(), 2000);

    const QString unbroken(100'000, QChar('x'));
    EXPECT_EQ(searchWords(unbroken), QStringList{QString(maximumSearchWordLength, QChar('x'))});
    EXPECT_LT(ftsSearchQuery(std::nullopt, unbroken)->size(), 1000);
    EXPECT_LT(ftsSearchQuery(std::nullopt, QString(100'000, QChar(' ')))->size(), 1000);
}

// Time periods ------------------------------------------------------------------------------------------

class TimeZoneScope {
public:
    explicit TimeZoneScope(const char* zone) : saved_(qgetenv("TZ")), had_(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~TimeZoneScope()
    {
        if (had_) {
            qputenv("TZ", saved_);
        } else {
            qunsetenv("TZ");
        }
        tzset();
    }

private:
    QByteArray saved_;
    bool had_;
};

TEST(DateRangeTest, TodayAndYesterdayMeetAtLocalMidnight)
{
    TimeZoneScope zone("UTC");
    const QDateTime now(QDate(2024, 3, 5), QTime(14, 7, 9));
    EXPECT_EQ(dateRangeFilter(FolderSection::today(), now), (DateRange{"2024-03-05 00:00:00", "2024-03-05 14:08:09"}));
    EXPECT_EQ(dateRangeFilter(FolderSection::yesterday(), now),
              (DateRange{"2024-03-04 00:00:00", "2024-03-05 00:00:00"}));
    EXPECT_FALSE(dateRangeFilter(FolderSection::all(), now));
    EXPECT_FALSE(dateRangeFilter(FolderSection::list(Folder{1, 0, "F", false, std::nullopt}), now));
    EXPECT_FALSE(dateRangeFilter(std::nullopt, now));
}

TEST(DateRangeTest, LocalMidnightEastOfUtcFallsOnThePreviousUtcDay)
{
    TimeZoneScope zone("Asia/Tokyo");
    const QDateTime now(QDate(2024, 3, 5), QTime(8, 0, 0));
    EXPECT_EQ(dateRangeFilter(FolderSection::today(), now)->lower, "2024-03-04 15:00:00");
}

TEST(DateRangeTest, LastWeekRunsFromTheStartOfLastWeekToTheStartOfThisWeek)
{
    TimeZoneScope zone("UTC");
    const QDateTime now(QDate(2024, 3, 6), QTime(12, 0, 0)); // a Wednesday
    const std::optional<DateRange> range = dateRangeFilter(FolderSection::lastWeek(), now);
    ASSERT_TRUE(range);
    const int firstDay = static_cast<int>(QLocale::system().firstDayOfWeek());
    const QDate thisWeek = now.date().addDays(-((now.date().dayOfWeek() - firstDay + 7) % 7));
    EXPECT_EQ(range->upper, thisWeek.toString("yyyy-MM-dd") + " 00:00:00");
    EXPECT_EQ(range->lower, thisWeek.addDays(-7).toString("yyyy-MM-dd") + " 00:00:00");
}

// Queries and counts ------------------------------------------------------------------------------------

class LibraryQueriesTest : public testing::OpenLibraryTest {
protected:
    std::vector<qint64> ids(const std::optional<QString>& search, const std::optional<Folder>& folder = std::nullopt,
                            const std::optional<FolderSection>& period = std::nullopt)
    {
        std::vector<qint64> result;
        EXPECT_TRUE(
            store->queryScreenshots(search, folder, period, [&](ScreenshotRow&& row) { result.push_back(row.id); }));
        // The rows come in the order of the filter's ids, which the list manager asks for alone; none stands
        // for every screenshot.
        const StoreResult<std::optional<std::vector<qint64>>> filtered =
            store->filteredScreenshotIds(search, folder, period);
        EXPECT_TRUE(filtered);
        if (filtered && *filtered) {
            EXPECT_EQ(**filtered, result) << "ids from the indexes alone";
        } else if (filtered) {
            EXPECT_EQ(static_cast<qint64>(result.size()), store->countScreenshots().value_or(-1));
        }
        return result;
    }

    void setCreatedAt(qint64 id, const QDateTime& time)
    {
        rawConnection()->runStatement("UPDATE screenshots SET created_at = ? WHERE id = ?",
                                      databaseTimestamp(time).toStdString(), static_cast<std::int64_t>(id));
    }
};

TEST_F(LibraryQueriesTest, WithoutFiltersEveryScreenshotComesNewestFirst)
{
    const qint64 a = addScreenshot(*store, "a"), b = addScreenshot(*store, "b"), c = addScreenshot(*store, "c");
    EXPECT_THAT(ids(std::nullopt), ElementsAre(c, b, a));
}

TEST_F(LibraryQueriesTest, SearchFindsWordsAsTheyAreTypedInEveryColumn)
{
    const qint64 invoice = addScreenshot(*store, "Invoice", "total amount due");
    const qint64 other = addScreenshot(*store, "Holiday", "beach and sunshine");
    (void)store->updateScreenshot(other, {.name = "Holiday", .description = "a summary", .keywords = "travel"});
    EXPECT_THAT(ids("amo"), ElementsAre(invoice));
    EXPECT_THAT(ids("Invo"), ElementsAre(invoice));
    EXPECT_THAT(ids("trav"), ElementsAre(other));
    EXPECT_THAT(ids("summ"), ElementsAre(other));
    EXPECT_THAT(ids("zzz"), IsEmpty());
}

TEST_F(LibraryQueriesTest, TheNewestMatchesFoundFirstBeginTheWholeAnswerWhateverTheText)
{
    // Texts the word index folds (case, diacritics) and splits (punctuation) its own way, among plain ones.
    const std::vector<QString> texts{
        "Gamma ray", "gammas",       "Ömega gamma", "ga-mma",     "straße gam", "x gamma",     "Gämma", "alphagamma",
        "GAM.ma",    "nothing here", "beta gamma",  "gamma beta", "g4mma",      "ünder gamut", "ga",    "beta"};
    for (int round = 0; round < 3; ++round) {
        for (const QString& text : texts) {
            addScreenshot(*store, QString("s%1").arg(text.size()), text);
        }
    }
    for (const QString search : {"gam", "g", "GA", "beta gam", "gam beta", "gamma", "ö", "x"}) {
        SCOPED_TRACE(search.toStdString());
        const std::vector<qint64> whole = ids(search);
        std::vector<qint64> first;
        const StoreResult<std::optional<std::vector<qint64>>> found = store->filteredScreenshotIds(
            search, std::nullopt, std::nullopt, 5, [&](const std::vector<qint64>& newest) { first = newest; });
        ASSERT_TRUE(found && *found);
        EXPECT_EQ(**found, whole);
        if (whole.size() >= 5) {
            EXPECT_EQ(first, std::vector<qint64>(whole.begin(), whole.begin() + 5));
        } else {
            EXPECT_THAT(first, IsEmpty());
        }
    }
}

TEST_F(LibraryQueriesTest, EveryPrefixOfThreeOrMoreLettersFindsItsWord)
{
    // Words whose stems are shorter than the word, so that a typed prefix runs past the stem.
    const std::vector<QString> words{"settings", "meeting",     "running",  "conditions",  "available",
                                     "national", "screenshots", "password", "happiness",   "generalization",
                                     "argued",   "invoices",    "calendar", "downloading", "relational"};
    std::vector<qint64> screenshots;
    for (const QString& word : words) {
        screenshots.push_back(addScreenshot(*store, "shot " + word, "the " + word + " of today"));
    }
    for (std::size_t index = 0; index < words.size(); ++index) {
        for (qsizetype length = 3; length <= words[index].size(); ++length) {
            const QString prefix = words[index].left(length);
            SCOPED_TRACE(prefix.toStdString());
            EXPECT_THAT(ids(prefix), ::testing::Contains(screenshots[index]));
        }
    }
}

TEST_F(LibraryQueriesTest, AWholeWordStillFindsTheFormsTheStemmerJoins)
{
    const qint64 plural = addScreenshot(*store, "a", "two screenshots here");
    const qint64 running = addScreenshot(*store, "b", "running late");
    const qint64 runs = addScreenshot(*store, "c", "it runs");
    const qint64 happy = addScreenshot(*store, "d", "a happy day");
    EXPECT_THAT(ids("screenshot"), ElementsAre(plural));
    EXPECT_THAT(ids("run"), ElementsAre(runs, running));
    EXPECT_THAT(ids("running"), ElementsAre(runs, running));
    EXPECT_THAT(ids("happiness"), ElementsAre(happy));
}

TEST_F(LibraryQueriesTest, SeveralWordsFindTheScreenshotsHoldingEachInAnyOrderAndColumn)
{
    const qint64 both = addScreenshot(*store, "Invoice March", "saffron and marzipan, one ticket");
    const qint64 spread = addScreenshot(*store, "plain", "nothing here");
    (void)store->updateScreenshot(spread, {.name = "plain", .description = "a ticket", .keywords = "marzipan"});
    const qint64 invoiceOnly = addScreenshot(*store, "invoice", "no spice");
    const struct {
        const char* search;
        std::vector<qint64> expected;
    } cases[] = {
        {"invoice saffron", {both}},
        {"saffron invoice", {both}},
        {"marzipan ticket", {spread, both}},
        {"ticket marzipan", {spread, both}},
        {"TICKET   Marzipan", {spread, both}},
        {"invoices saffr", {both}}, // a stem before, a prefix last
        {"invoice", {invoiceOnly, both}},
        {"invoice  invoice", {invoiceOnly, both}}, // a repeat asks for the word once, not twice side by side
        {"invoice nutmeg", {}},
        {"saffr invoice", {}}, // only the last word is a prefix
        {"marzipan ticket invoice march saffron", {both}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.search);
        EXPECT_EQ(ids(test.search), test.expected); // ids() also asks the indexes alone
    }
    const Folder sweets{1, 0, "Sweets", true, "marzipan"};
    EXPECT_EQ(ids("ticket saff", sweets), std::vector<qint64>{both});
}

TEST_F(LibraryQueriesTest, TheImagePathAndTheAppNameAreIndexedButNeverSearched)
{
    const qint64 zebra = addScreenshot(*store, "stripes", "a zebra crossing");
    const qint64 other = *store->insertScreenshot({.name = "plain",
                                                   .path = "file:///tmp/zebra%20crossing.png",
                                                   .text = "nothing",
                                                   .capturedAppName = "Zebra Viewer"});
    for (const QString& search : {QString("zebra"), QString("zeb"), QString("crossing zebra"), QString("plain zeb")}) {
        SCOPED_TRACE(search.toStdString());
        EXPECT_THAT(ids(search), ::testing::Not(::testing::Contains(other)));
    }
    EXPECT_THAT(ids("zebra"), ElementsAre(zebra));
    const Folder smart{1, 0, "Zebras", true, "viewer zebra"};
    EXPECT_THAT(ids(std::nullopt, smart), ElementsAre(zebra));
    EXPECT_EQ(store->countScreenshotsInFolder(smart), 1);
}

TEST_F(LibraryQueriesTest, APastedPageFindsTheScreenshotsHoldingItsFirstWords)
{
    const qint64 page = addScreenshot(*store, "page", "alpha bravo charlie delta echo foxtrot golf hotel");
    addScreenshot(*store, "other", "alpha bravo");
    QString pasted = "alpha bravo charlie delta echo foxtrot golf hotel";
    while (pasted.size() < 100'000) {
        pasted += " india juliett kilo";
    }
    EXPECT_EQ(ids(pasted), std::vector<qint64>{page});
}

TEST_F(LibraryQueriesTest, ControlCharactersInTheSearchTextAreNoSqlError)
{
    const qint64 settings = addScreenshot(*store, "a", "open the settings");
    for (const QString& search : {QString("sett") + QChar(0), QChar(0) + QString("settings"),
                                  QString("set") + QChar(0) + QString("tings"), QString("settings\t\n\x1b")}) {
        SCOPED_TRACE(search.toUtf8().toHex().toStdString());
        EXPECT_NO_THROW(EXPECT_THAT(ids(search), ElementsAre(settings)));
    }
}

TEST_F(LibraryQueriesTest, SearchStaysRightAfterInsertsRenamesAndDeletes)
{
    std::vector<qint64> all;
    for (int index = 0; index < 20; ++index) {
        all.push_back(addScreenshot(*store, QString("shot%1").arg(index), QString("word%1 common").arg(index)));
    }
    for (int index = 0; index < 20; index += 3) {
        (void)store->updateScreenshot(all[index], {.name = QString("renamed%1").arg(index)});
    }
    for (int index = 1; index < 20; index += 4) {
        (void)store->deleteScreenshot(all[index]);
    }
    const qint64 late = addScreenshot(*store, "late", "word5 late");

    EXPECT_NO_THROW(checkIndexIntegrity());
    EXPECT_THAT(ids("renamed12"), ElementsAre(all[12]));
    EXPECT_THAT(ids("shot12"), IsEmpty());
    EXPECT_THAT(ids("word9"), IsEmpty());         // deleted
    EXPECT_THAT(ids("word5"), ElementsAre(late)); // screenshot 5 was deleted
    EXPECT_THAT(ids("word12"), ElementsAre(all[12]));
    EXPECT_EQ(ids("common").size(), 15u);
}

TEST_F(LibraryQueriesTest, APlainFolderShowsItsLinkedScreenshots)
{
    const qint64 a = addScreenshot(*store, "a"), b = addScreenshot(*store, "b");
    addScreenshot(*store, "c");
    const qint64 folder = *store->insertFolder("F", false, std::nullopt);
    (void)store->insertFolderScreenshot(a, folder);
    (void)store->insertFolderScreenshot(b, folder);
    const Folder plain{folder, 0, "F", false, std::nullopt};
    EXPECT_THAT(ids(std::nullopt, plain), ElementsAre(b, a));
    EXPECT_THAT(ids("a", plain), ElementsAre(a));
    EXPECT_EQ(store->countScreenshotsInFolder(plain), 2);
    EXPECT_EQ(store->folderIdForScreenshot(a), folder);
    EXPECT_EQ(testing::errorKind(store->folderIdForScreenshot(3)), StoreError::Kind::absent);
    EXPECT_EQ(store->countScreenshotsInFolder(Folder{99, 0, "Empty", false, std::nullopt}), 0);
}

TEST_F(LibraryQueriesTest, ASmartFolderMatchesItsKeywords)
{
    const qint64 cat = addScreenshot(*store, "one", "a cat sleeps");
    addScreenshot(*store, "two", "a bird sings");
    const qint64 dog = addScreenshot(*store, "three", "dogs bark");
    const Folder smart{1, 0, "Pets", true, "cat dog"};
    EXPECT_THAT(ids(std::nullopt, smart), ElementsAre(dog, cat));
    EXPECT_THAT(ids("bark", smart), ElementsAre(dog));
    EXPECT_EQ(store->countScreenshotsInFolder(smart), 2);

    const Folder noKeywords{2, 0, "All", true, std::nullopt};
    EXPECT_EQ(ids(std::nullopt, noKeywords).size(), 3u);
    EXPECT_EQ(testing::errorKind(store->countScreenshotsInFolder(noKeywords)), StoreError::Kind::absent);
    EXPECT_EQ(testing::errorKind(store->countScreenshotsInFolder(std::nullopt)), StoreError::Kind::absent);
}

TEST_F(LibraryQueriesTest, FiltersTogetherKeepOnlyWhatEachOneKeeps)
{
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 linkedCat = addScreenshot(*store, "one", "cat invoice");
    const qint64 cat = addScreenshot(*store, "two", "cat receipt");
    const qint64 oldLinkedCat = addScreenshot(*store, "three", "cat invoice");
    const qint64 linkedDog = addScreenshot(*store, "four", "dog invoice");
    setCreatedAt(oldLinkedCat, now.addDays(-40));
    const qint64 folder = *store->insertFolder("F", false, std::nullopt);
    for (const qint64 id : {linkedCat, oldLinkedCat, linkedDog}) {
        (void)store->insertFolderScreenshot(id, folder);
    }
    const Folder plain{folder, 0, "F", false, std::nullopt};
    const Folder cats{folder + 1, 0, "Cats", true, "cat"};
    const struct {
        std::optional<QString> search;
        std::optional<Folder> folder;
        std::optional<FolderSection> period;
        std::vector<qint64> expected;
    } cases[] = {
        {"invo", plain, std::nullopt, {linkedDog, oldLinkedCat, linkedCat}},
        {"invo", plain, FolderSection::today(), {linkedDog, linkedCat}},
        {"cat", std::nullopt, FolderSection::today(), {cat, linkedCat}},
        {"invoice", cats, std::nullopt, {oldLinkedCat, linkedCat}},
        {"invoice", cats, FolderSection::today(), {linkedCat}},
        {std::nullopt, plain, FolderSection::today(), {linkedDog, linkedCat}},
        {"zebra", plain, FolderSection::today(), {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.search.value_or("(no search)").toStdString());
        EXPECT_EQ(ids(test.search, test.folder, test.period), test.expected);
    }
}

TEST_F(LibraryQueriesTest, EachSidebarCountIsTheLengthOfTheListItOpens)
{
    const QDateTime now = QDateTime::currentDateTime();
    std::vector<qint64> shots;
    for (const int daysAgo : {0, 0, 1, 3, 8, 12, 40}) {
        shots.push_back(addScreenshot(*store, "shot", daysAgo % 2 == 0 ? "cat" : "dog"));
        setCreatedAt(shots.back(), now.addDays(-daysAgo).addSecs(-1));
    }
    const qint64 folder = *store->insertFolder("F", false, std::nullopt);
    for (const qint64 id : {shots[0], shots[3], shots[6]}) {
        (void)store->insertFolderScreenshot(id, folder);
    }
    for (const FolderSection& section :
         {FolderSection::today(), FolderSection::yesterday(), FolderSection::lastWeek()}) {
        SCOPED_TRACE(section.id().toStdString());
        EXPECT_EQ(store->countScreenshotsInPeriod(section),
                  static_cast<qint64>(ids(std::nullopt, std::nullopt, section).size()));
    }
    for (const Folder& shown :
         {Folder{folder, 0, "F", false, std::nullopt}, Folder{folder + 1, 0, "Cats", true, "cat"}}) {
        SCOPED_TRACE(shown.name.toStdString());
        EXPECT_EQ(store->countScreenshotsInFolder(shown), static_cast<qint64>(ids(std::nullopt, shown).size()));
    }
    EXPECT_EQ(store->countScreenshots(), static_cast<qint64>(ids(std::nullopt).size()));
}

TEST_F(LibraryQueriesTest, PeriodsIncludeBothBounds)
{
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 recent = addScreenshot(*store, "recent");
    setCreatedAt(recent, now.addSecs(-30));
    const qint64 old = addScreenshot(*store, "old");
    setCreatedAt(old, now.addDays(-40));
    const qint64 weekStart = addScreenshot(*store, "week start");
    const qint64 afterWeekStart = addScreenshot(*store, "after week start");
    const std::optional<DateRange> lastWeek = dateRangeFilter(FolderSection::lastWeek(), now);
    rawConnection()->runStatement("UPDATE screenshots SET created_at = ? WHERE id = ?", lastWeek->upper.toStdString(),
                                  static_cast<std::int64_t>(weekStart));
    const QDateTime upper = QDateTime::fromString(lastWeek->upper, "yyyy-MM-dd HH:mm:ss");
    rawConnection()->runStatement("UPDATE screenshots SET created_at = ? WHERE id = ?",
                                  upper.addSecs(1).toString("yyyy-MM-dd HH:mm:ss").toStdString(),
                                  static_cast<std::int64_t>(afterWeekStart));

    EXPECT_THAT(ids(std::nullopt, std::nullopt, FolderSection::today()), ::testing::Contains(recent));
    EXPECT_THAT(ids(std::nullopt, std::nullopt, FolderSection::lastWeek()), ::testing::Contains(weekStart));
    EXPECT_THAT(ids(std::nullopt, std::nullopt, FolderSection::lastWeek()),
                ::testing::Not(::testing::Contains(afterWeekStart)));
    EXPECT_THAT(ids(std::nullopt, std::nullopt, FolderSection::lastWeek()), ::testing::Not(::testing::Contains(old)));
    EXPECT_GE(store->countScreenshotsInPeriod(FolderSection::today()).value_or(0), 1);
    EXPECT_EQ(testing::errorKind(store->countScreenshotsInPeriod(FolderSection::all())), StoreError::Kind::absent);
    EXPECT_EQ(store->countScreenshots(), 4);
}

TEST_F(LibraryQueriesTest, ACorruptIndexIsRebuiltOnceAndTheCountRetried)
{
    addScreenshot(*store, "one", "cat");
    addScreenshot(*store, "two", "cat");
    store = openStore(); // a connection that has not searched the index before
    // Spoilt while the library is open (opening finds such an index out of step and rebuilds it).
    rawConnection()->executeScript(
        "UPDATE screenshots_fts_data SET block = x'0000ffffffffffffffffffffffffffffff' WHERE id > 10;");
    ASSERT_THROW(checkIndexIntegrity(), sqlite::Result);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(store->countScreenshotsInFolder(Folder{1, 0, "Cats", true, "cat"}), 2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Rebuilding index\n");
    EXPECT_NO_THROW(checkIndexIntegrity());
}

} // namespace
} // namespace lumetrove
