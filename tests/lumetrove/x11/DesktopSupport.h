#pragma once

#include "tests/lumetrove/Sandbox.h"

#include <QImage>
#include <QProcessEnvironment>
#include <QRect>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <xcb/xcb.h>

namespace lumetrove::testing {

/// The pixels of the root window `root` inside `rect`, straight from the X server, whatever screens the desktop
/// is split into; a null image when the server gives none.
inline QImage grabRootImage(xcb_connection_t* connection, xcb_window_t root, const QRect& rect)
{
    std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> reply(
        xcb_get_image_reply(connection,
                            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, rect.x(), rect.y(), rect.width(),
                                          rect.height(), ~0u),
                            nullptr),
        &std::free);
    // The desktop is 24 bits deep in 32-bit pixels, the layout of QImage::Format_RGB32.
    if (!reply || reply->depth != 24 || xcb_get_image_data_length(reply.get()) != rect.width() * rect.height() * 4) {
        return QImage();
    }
    return QImage(xcb_get_image_data(reply.get()), rect.width(), rect.height(), rect.width() * 4, QImage::Format_RGB32)
        .copy();
}

/// The environment of a program started in `sandbox`: its own home, data, settings, cache and runtime
/// directories, no session bus, on X11.
inline QProcessEnvironment programEnvironment(const QTemporaryDir& sandbox)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), sandbox.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), sandbox.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), sandbox.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), sandbox.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), sandbox.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + sandbox.filePath(QStringLiteral("no-bus")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return environment;
}

} // namespace lumetrove::testing
