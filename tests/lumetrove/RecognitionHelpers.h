#pragma once

#include "lumetrove/platform/TextRecognizer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>

namespace lumetrove::testing {

#ifdef LUMETROVE_TEXT_RECOGNITION_HELPER
/// The text-recognition helper program of this build.
inline QString builtRecognitionHelper()
{
    return QStringLiteral(LUMETROVE_TEXT_RECOGNITION_HELPER);
}
#endif

/// The text-recognition helpers this process has running. An ended helper has no command line left, so it is
/// not counted, reaped or not.
inline QList<qint64> runningRecognitionHelpers()
{
    QList<qint64> helpers;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!stat.open(QIODevice::ReadOnly) || !commandLine.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == QCoreApplication::applicationPid() &&
            commandLine.readAll().contains(textRecognitionHelperArgument)) {
            helpers.append(entry.toLongLong());
        }
    }
    return helpers;
}

} // namespace lumetrove::testing
