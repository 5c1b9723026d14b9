#pragma once

// The library that the library and browser benchmarks share: 100k screenshots with about 1 KB of recognised text
// each (LUMETROVE_BENCH_LIBRARY_SIZE asks for another number), generated once into the temporary directory and
// kept there for later runs.
#include "lumetrove/library/DateRange.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "sqlite/Connection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace generated {

using namespace lumetrove;

/// The number of screenshots in the generated library.
inline int librarySize()
{
    static const int size = [] {
        bool ok = false;
        const int asked = qEnvironmentVariableIntValue("LUMETROVE_BENCH_LIBRARY_SIZE", &ok);
        return ok && asked > 0 ? asked : 100'000;
    }();
    return size;
}
inline const int screenshotCount = librarySize();
constexpr int vocabularySize = 5000;
constexpr int wordsPerText = 170; // about 1 KB
constexpr int linkedScreenshots = 10'000;

/// Six letters per word, so that no word is the prefix of another.
inline std::string word(int rank)
{
    std::string text(6, 'a');
    for (int position = 5; position >= 0; --position) {
        text[static_cast<std::size_t>(position)] = static_cast<char>('a' + rank % 26);
        rank /= 26;
    }
    return text;
}

inline QString libraryPath()
{
    // The library of the usual size keeps the name it always had.
    return QDir::tempPath() + (screenshotCount == 100'000
                                   ? QStringLiteral("/lumetrove-bench-library-v2.sqlite3")
                                   : QStringLiteral("/lumetrove-bench-library-v2-%1.sqlite3").arg(screenshotCount));
}

/// A store on `path`. Opening prints its schema lines on standard output, where the benchmark writes its
/// results, so they go to /dev/null.
inline std::shared_ptr<ScreenshotsDB> openStore(const QString& path)
{
    auto store = std::make_shared<ScreenshotsDB>();
    std::fflush(stdout);
    const int savedOutput = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);
    store->openDatabase(path);
    std::fflush(stdout);
    dup2(savedOutput, STDOUT_FILENO);
    close(devNull);
    close(savedOutput);
    return store;
}

/// Builds the library file once and keeps it for later runs.
inline void generateLibrary()
{
    const QString path = libraryPath();
    if (QFile::exists(path)) {
        auto check = sqlite::Connection::openPath(path.toStdString());
        const auto rows = check->scalar("SELECT count(*) FROM screenshots");
        if (rows && std::get<std::int64_t>(*rows) == screenshotCount) {
            return;
        }
        check.reset();
        QFile::remove(path);
    }
    std::fprintf(stderr, "Generating %d screenshots in %s ...\n", screenshotCount, qPrintable(path));
    const auto store = openStore(path);
    const auto db = store->db();
    std::mt19937 random(42);
    // Zipf-like word frequencies, as in real text.
    std::vector<double> weights(vocabularySize);
    for (int rank = 0; rank < vocabularySize; ++rank) {
        weights[static_cast<std::size_t>(rank)] = 1.0 / (rank + 1);
    }
    std::discrete_distribution<int> words(weights.begin(), weights.end());
    db->transaction([&] {
        const auto insert = db->prepare("INSERT INTO screenshots (name, path, text, captured_app_name, was_imported, "
                                        "created_at) VALUES (?, ?, ?, ?, 0, ?)");
        for (int index = 0; index < screenshotCount; ++index) {
            std::string text;
            for (int count = 0; count < wordsPerText; ++count) {
                text += word(words(random));
                text += count % 12 == 11 ? '\n' : ' ';
            }
            const std::string name = "Screen Shot " + std::to_string(index);
            const std::string created =
                databaseTimestamp(QDateTime::currentDateTime().addSecs(-60LL * (screenshotCount - index)))
                    .toStdString();
            insert->runToEnd(name, "file:///home/user/.local/share/Lumetrove/Screenshots/" + name + ".png", text,
                             std::string("Editor"), created);
        }
        const auto folder = db->prepare("INSERT INTO folders (folder_name, sort_order) VALUES ('Folder', 0)");
        folder->runToEnd();
        const auto link = db->prepare("INSERT INTO folders_screenshots (folder_id, screenshot_id) VALUES (1, ?)");
        for (int index = 1; index <= linkedScreenshots; ++index) {
            link->runToEnd(static_cast<std::int64_t>(index * 7 % screenshotCount + 1));
        }
    });
}

inline std::shared_ptr<ScreenshotsDB> openLibrary()
{
    generateLibrary();
    return openStore(libraryPath());
}

} // namespace generated
