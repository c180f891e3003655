// SPDX-License-Identifier: GPL-3.0-or-later
#include "displaycheck.h"

#include <QByteArray>
#include <QList>

namespace {

bool isSet(const char *name) {
    return !qEnvironmentVariableIsEmpty(name);
}

// Whether the platform plugin named (options after ':' dropped) finds what it connects to.
// Plugins that draw nowhere or on their own device (offscreen, minimal, vnc, eglfs) need nothing.
bool platformUsable(const QByteArray &platform) {
    const QByteArray name = platform.split(':').constFirst().trimmed();
    if (name == "xcb")
        return isSet("DISPLAY");
    if (name.startsWith("wayland"))
        return isSet("WAYLAND_DISPLAY");
    return !name.isEmpty();
}

} // namespace

QString missingDisplay() {
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    if (chosen.isEmpty()) {
        if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
            return {};
        return QStringLiteral("no DISPLAY or WAYLAND_DISPLAY is set");
    }
    // A list such as "wayland;xcb" is tried in order: one usable entry is enough.
    for (const QByteArray &platform : chosen.split(';'))
        if (platformUsable(platform))
            return {};
    return QStringLiteral("QT_QPA_PLATFORM is %1 but no DISPLAY or WAYLAND_DISPLAY is set")
        .arg(QString::fromLocal8Bit(chosen));
}
