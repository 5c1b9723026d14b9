#include "lumetrove/platform/Log.h"

#include <cstdio>
#include <mutex>

namespace lumetrove {
namespace {

std::mutex& logMutex()
{
    static std::mutex mutex;
    return mutex;
}

void writeLine(std::FILE* stream, const QString& line)
{
    const QByteArray bytes = line.toUtf8();
    std::lock_guard lock(logMutex());
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

void printLine(const QString& line)
{
    writeLine(stdout, line);
}

void systemLog(const QString& line)
{
    writeLine(stderr, line);
}

} // namespace lumetrove
