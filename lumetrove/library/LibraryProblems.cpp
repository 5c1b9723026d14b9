#include "lumetrove/library/LibraryProblems.h"

#include "lumetrove/platform/NotificationCenter.h"

namespace lumetrove {

const QString libraryProblemNotification = QStringLiteral("libraryProblem");
const QString libraryProblemMessageKey = QStringLiteral("message");
const QString libraryRepairedNotification = QStringLiteral("libraryRepaired");

void reportLibraryProblem(const QString& message)
{
    NotificationCenter::defaultCenter().post(libraryProblemNotification, {{libraryProblemMessageKey, message}});
}

} // namespace lumetrove
