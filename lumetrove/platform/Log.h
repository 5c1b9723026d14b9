#pragma once

#include <QString>

namespace lumetrove {

/// Writes one line to standard output (the application's plain "print" lines). Any thread.
void printLine(const QString& line);

/// Writes one line to the system log, which on Linux is standard error. The text is written as it
/// stands, never interpreted as a format. Any thread.
void systemLog(const QString& line);

} // namespace lumetrove
