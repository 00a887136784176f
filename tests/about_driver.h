#pragma once

#include "about/frmabout.h"

#include <QApplication>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace movarin::testing {

inline about::frmabout* openAbout() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* about = qobject_cast<about::frmabout*>(w); about && about->isVisible())
            return about;
    }
    return nullptr;
}

// Calls `open` (which shows the About window modally and returns when it closes) and drives the
// window from inside its modal loop. A window that does not close is closed by a watchdog, so
// the test fails instead of hanging. True when it closed without the watchdog.
inline bool driveModalAbout(QObject* context, const std::function<void()>& open,
                            const std::function<void(about::frmabout*)>& drive) {
    bool watchdogFired = false;
    QTimer::singleShot(0, context, [&] {
        about::frmabout* about = openAbout();
        if (!about) {
            QTest::qFail("the About window is not shown", __FILE__, __LINE__);
            return;
        }
        // Activation comes from the window system a little after the window shows.
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == about, 5000);
        drive(about);
    });
    // Repeats, so that even a window opened from inside another one is closed in the end.
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (about::frmabout* about = openAbout()) {
            watchdogFired = true;
            about->done(QDialog::Rejected);
        }
    });
    watchdog.start(10000);
    open();
    return !watchdogFired;
}

} // namespace movarin::testing
