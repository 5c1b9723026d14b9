#pragma once

#include <QObject>
#include <functional>

namespace lumetrove {

/// Whether this launch counts as a first launch: every launch does until one finds screen-recording
/// permission granted; that launch still does, later ones do not. Decided once, when made. Main thread.
class FirstLaunchChecker : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isFirstLaunch READ isFirstLaunch CONSTANT)

public:
    /// Answers whether screen-recording permission is granted (the capture's window-list test).
    using PermissionProbe = std::function<bool()>;

    /// Reads "hasLaunchedBefore"; when it is not set, asks `permissionGranted` and, on a yes, stores the key as
    /// true. The probe is not called when the key is already set.
    explicit FirstLaunchChecker(const PermissionProbe& permissionGranted, QObject* parent = nullptr);

    bool isFirstLaunch() const { return isFirstLaunch_; }

private:
    bool isFirstLaunch_ = true;
};

} // namespace lumetrove
