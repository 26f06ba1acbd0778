#pragma once
// Shared set-up of the window tests: one QApplication and a temporary
// home and settings folder fixed before the first QSettings use.
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <functional>

namespace guitest {

inline QTemporaryDir& configHome()
{
    static QTemporaryDir dir;
    return dir;
}

// Set before main runs: settings paths are fixed at the first QSettings use.
// The home is the same temporary folder (the default capture folder lies in
// it), and there is no session bus, also when the binary runs outside ctest.
inline const bool g_configHomeSet = [] {
    qputenv("SDL_AUDIODRIVER", "dummy");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    qputenv("HOME", configHome().path().toLocal8Bit());
    return qputenv("XDG_CONFIG_HOME", configHome().path().toLocal8Bit());
}();

inline void ensureApp()
{
    static int argc = 1;
    static char name[] = "vesk_gui_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QApplication(argc, argv);
}

// Runs the event loop until done() or the timeout.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QTest::qWait(20);
    }
    return true;
}

}  // namespace guitest
