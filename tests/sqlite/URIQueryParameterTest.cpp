#include "sqlite/URIQueryParameter.h"

#include "sqlite/Connection.h"
#include "tests/sqlite/TemporaryDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unordered_set>

using namespace sqlite;
using P = URIQueryParameter;
using Location = Connection::Location;

TEST(URIQueryParameterTest, KeysAndValueTexts)
{
    struct Case {
        P parameter;
        std::string description;
    };
    const std::vector<Case> cases{
        {P::cache(P::CacheMode::shared), "cache=shared"},
        {P::cache(P::CacheMode::private_), "cache=private"},
        {P::immutable(true), "immutable=1"},
        {P::modeOf("/tmp/a.db"), "modeof=/tmp/a.db"},
        {P::mode(P::FileMode::readOnly), "mode=ro"},
        {P::mode(P::FileMode::readWrite), "mode=rw"},
        {P::mode(P::FileMode::readWriteCreate), "mode=rwc"},
        {P::mode(P::FileMode::memory), "mode=memory"},
        {P::nolock(false), "nolock=0"},
        {P::powersafeOverwrite(true), "psow=1"},
        {P::vfs("unix-dotfile"), "vfs=unix-dotfile"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(c.parameter.description(), c.description);
        const auto item = c.parameter.queryItem();
        EXPECT_EQ(item.name + "=" + *item.value, c.description);
    }
}

TEST(URIQueryParameterTest, EnumerationsMatchTextExactly)
{
    EXPECT_EQ(fileModeFromText("ro"), P::FileMode::readOnly);
    EXPECT_EQ(fileModeFromText("rwc"), P::FileMode::readWriteCreate);
    EXPECT_FALSE(fileModeFromText("RO"));
    EXPECT_EQ(cacheModeFromText("private"), P::CacheMode::private_);
    EXPECT_FALSE(cacheModeFromText("Shared"));
}

TEST(URIQueryParameterTest, ComparedAndHashedByValue)
{
    EXPECT_EQ(P::nolock(true), P::nolock(true));
    EXPECT_NE(P::nolock(true), P::immutable(true));
    EXPECT_NE(P::vfs("a"), P::modeOf("a"));
    std::unordered_set<P> set{P::nolock(true), P::nolock(true), P::powersafeOverwrite(false)};
    EXPECT_EQ(set.size(), 2u);
}

TEST(LocationTest, FileNames)
{
    struct Case {
        Location location;
        std::string fileName;
    };
    const std::vector<Case> cases{
        {Location::inMemory(), ":memory:"},
        {Location::temporary(), ""},
        {Location::uri("/tmp/a b?.db"), "/tmp/a b?.db"},
        {Location::uri("file:/tmp/a.db?cache=shared", {}), "file:/tmp/a.db?cache=shared"},
        {Location::uri("file:/tmp/a.db?cache=shared", {P::mode(P::FileMode::readOnly)}),
         "file:/tmp/a.db?cache=shared&mode=ro"},
        {Location::uri("file:/tmp/a.db", {P::mode(P::FileMode::readOnly), P::nolock(true)}),
         "file:/tmp/a.db?mode=ro&nolock=1"},
        {Location::uri("file:/tmp/a.db?#frag", {P::immutable(true)}), "file:/tmp/a.db?immutable=1#frag"},
        {Location::uri("data.db", {P::mode(P::FileMode::readOnly)}), "file:data.db?mode=ro"},
        {Location::uri("/tmp/a b#1?.db", {P::mode(P::FileMode::readOnly)}), "file:///tmp/a%20b%231%3F.db?mode=ro"},
        {Location::uri("/tmp/x.db", {P::modeOf("/tmp/a&b=c.db")}), "file:///tmp/x.db?modeof=/tmp/a%26b%3Dc.db"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileName);
        EXPECT_EQ(c.location.fileName(), c.fileName);
        EXPECT_EQ(c.location.description(), c.fileName);
    }
}

// A path with a blank, "#" or "?" keeps its parameters and names the file it says.
TEST(LocationTest, ParametersApplyToAwkwardPaths)
{
    TemporaryDirectory dir;
    const std::string path = dir.file("odd name #1?.db");
    {
        auto db = Connection::openPath(path);
        db->executeScript("CREATE TABLE t (a); INSERT INTO t VALUES (42);");
    }
    auto db = Connection::open(Location::uri(path, {P::mode(P::FileMode::readOnly)}));
    EXPECT_EQ(db->scalar("SELECT a FROM t"), Binding(std::int64_t{42}));
    EXPECT_TRUE(db->readonly());
    EXPECT_THROW(db->runStatement("INSERT INTO t VALUES (1)"), Result);
    EXPECT_EQ(std::filesystem::path(db->description()), std::filesystem::path(path));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(LocationTest, RelativeFileNameWithParameterOpensTheFile)
{
    TemporaryDirectory dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    {
        auto db = Connection::open(Location::uri("rel.db", {P::mode(P::FileMode::readWriteCreate)}));
        db->executeScript("CREATE TABLE t (a)");
    }
    std::filesystem::current_path(previous);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "rel.db"));
}

TEST(LocationTest, ExistingQueryItemsTakeEffect)
{
    TemporaryDirectory dir;
    const std::string path = dir.file("a.db");
    Connection::openPath(path)->executeScript("CREATE TABLE t (a)");
    auto db = Connection::open(Location::uri("file:" + path + "?mode=ro", {P::cache(P::CacheMode::private_)}));
    EXPECT_TRUE(db->readonly());
}
