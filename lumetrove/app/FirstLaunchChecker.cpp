#include "lumetrove/app/FirstLaunchChecker.h"

#include "lumetrove/platform/UserDefaults.h"

namespace lumetrove {

FirstLaunchChecker::FirstLaunchChecker(const PermissionProbe& permissionGranted, QObject* parent) : QObject(parent)
{
    if (UserDefaults::boolean(UserDefaults::hasLaunchedBefore)) {
        isFirstLaunch_ = false;
        return;
    }
    isFirstLaunch_ = true;
    if (permissionGranted && permissionGranted()) {
        UserDefaults::setValue(UserDefaults::hasLaunchedBefore, true);
    }
}

} // namespace lumetrove
