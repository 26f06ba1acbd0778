#pragma once
// The real main window and controller as the window benchmarks drive them.
#include <QApplication>
#include <QString>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

#include "app/AppController.h"
#include "app/TitleBar.h"
#include "app/dvrList.h"
#include "platform/Log.h"

namespace bench {

// Runs the event loop until done() or the time is up, pausing pauseMs
// between rounds.
inline bool waitEvents(const std::function<bool()>& done, double seconds, int pauseMs = 5)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(int(seconds * 1000));
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        usleep(useconds_t(pauseMs) * 1000);
    }
    return true;
}

// The client's log on stderr, or nowhere.
inline void clientLog(bool verbose)
{
    if (verbose)
        setLogSink([](const std::string& line) { std::fprintf(stderr, "client: %s\n", line.c_str()); });
    else
        setLogSink([](const std::string&) {});
}

// Starts the controller as the application does, with alerts on stderr and
// no quitting, shows the window and waits until it is exposed.
inline void startWindow(TitleBar& window, AppController& controller)
{
    controller.quitApplication = [] {};
    controller.showAlert = [](const QString& title, const QString& text) {
        std::fprintf(stderr, "alert: %s: %s\n", title.toUtf8().constData(), text.toUtf8().constData());
    };
    controller.awakeFromNib();
    window.show();
    waitEvents([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }, 10);
}

// Adds a site on 127.0.0.1 and selects it.
inline void addSite(TitleBar& window, AppController& controller, const QString& name, int model, int port,
                    const QString& id, const QString& password)
{
    auto site = std::make_shared<dvrList>();
    site->setNsStrRegName(name);
    site->setModelNum(model);
    site->setNsStrDVRIP("127.0.0.1");
    site->setDvrport(port);
    site->setNsStrDVRID(id);
    site->setNsStrDVRPwd(password);
    controller.AddDVR(site);
    window.tableView()->selectRow(0);
}

}  // namespace bench
