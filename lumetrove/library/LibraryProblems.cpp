#include "lumetrove/library/LibraryProblems.h"

#include "lumetrove/platform/NotificationCenter.h"

namespace lumetrove {

const QString libraryProblemNotification = QStringLiteral("libraryProblem");
const QString libraryProblemMessageKey = QStringLiteral("message");
const QString libraryRepairedNotification = QStringLiteral("libraryRepaired");
const QString libraryRepairingNotification = QStringLiteral("libraryRepairing");
const QString libraryRepairingKey = QStringLiteral("repairing");

void reportLibraryProblem(const QString& message)
{
    NotificationCenter::defaultCenter().post(libraryProblemNotification, {{libraryProblemMessageKey, message}});
}

} // namespace lumetrove
