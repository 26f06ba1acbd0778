#pragma once
// Shared set-up of the window tests: one QApplication and a temporary
// home and settings folder fixed before the first QSettings use, and the
// main window with its controller as the application makes them.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLayout>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

#include "app/AppController.h"
#include "app/TitleBar.h"
#include "app/dvrList.h"
#include "panels/ModalSearchWindow.h"
#include "panels/SearchViewController.h"
#include "panels/TimeSearchController.h"
#include "recorder/TestRecorder.h"
#include "recorder/Wire.h"

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

// Runs panel in a search window; `during` runs inside the modal run, which
// a fault cannot leave hanging: it ends with -1 after 30 s.
inline int runModal(ModalSearchWindow& window, QWidget* panel, const std::function<void()>& during)
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &window, [&window] { window.done(-1); });
    guard.start(30000);
    QTimer::singleShot(0, &window, during);
    return window.runSearch(panel);
}

// A recorder wall-clock moment as the pickers show it.
inline QDateTime pickerTime(uint32_t t)
{
    testrec::Civil c = testrec::timeToCivil(t);
    return QDateTime(QDate(c.year, c.month, c.day), QTime(c.hour, c.minute, c.second), Qt::LocalTime);
}

// Starts playback at t as a user does: the playback panel's time search,
// the picker set to t, Play. False when no recorded range arrived.
inline bool playFromTimeSearch(AppController& ctrl, uint32_t t)
{
    bool ok = false;
    ctrl.ShowSearchView();
    QTimer::singleShot(0, &ctrl, [&ctrl, &ok, t] {
        TimeSearchController* p = ctrl.timeSearchPanel();
        if (p && QTest::qWaitFor([&] { return p->hasRange(); }, 10000)) {
            p->findChild<QDateTimeEdit*>("datePicker")->setDateTime(pickerTime(t));
            p->findChild<QAbstractButton*>("btnPlay")->click();
            ok = true;
        } else if (ModalSearchWindow* w = ctrl.searchWindow()) {
            w->reject();
        }
    });
    ctrl.playbackPanel()->findChild<QAbstractButton*>("btnTimeSearch")->click();
    return ok;
}

// Presses a playback panel button by its object name.
inline void pressPlayback(AppController& ctrl, const char* button)
{
    ctrl.playbackPanel()->findChild<QAbstractButton*>(button)->click();
}

// A site as the site editor stores it; unset fields keep their defaults.
struct SiteFields {
    QString name{};
    int model = 2;
    QString ip = "127.0.0.1";
    int port = 0;
    QString id{};
    QString password{};
    int ddnsPort = 0;
};

// The main window and its controller, shown and exposed, with empty
// settings. Alerts are kept instead of shown and quitting is only noted.
// A test recorder, if one is started, stops after the window is gone.
class AppWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureApp();
        QSettings("vesk", "vesk").clear();
        window = std::make_unique<TitleBar>();
        ctrl = std::make_unique<AppController>(window.get());
        ctrl->quitApplication = [this] { quitCalled = true; };
        ctrl->showAlert = [this](const QString& t, const QString& m) { alerts << t + "/" + m; };
        ctrl->awakeFromNib();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override
    {
        ctrl->EndApplication();
        ctrl.reset();
        window.reset();
        if (rec)
            rec->stop();
    }
    void startRecorder(const testrec::RecorderConfig& cfg)
    {
        rec = std::make_unique<testrec::TestRecorder>(cfg);
        ASSERT_TRUE(rec->start(0));
    }
    // Adds the site to the book and selects it.
    void addSite(const SiteFields& f)
    {
        auto site = std::make_shared<dvrList>();
        site->setNsStrRegName(f.name);
        site->setModelNum(f.model);
        site->setNsStrDVRIP(f.ip);
        site->setDvrport(f.port);
        site->setNsStrDVRID(f.id);
        site->setNsStrDVRPwd(f.password);
        site->setDdnsPort(f.ddnsPort);
        ctrl->AddDVR(site);
        window->tableView()->selectRow(0);
    }
    QWidget* subPanel() const
    {
        QLayout* l = window->boxSubMenu()->layout();
        return l->count() ? l->itemAt(0)->widget() : nullptr;
    }

    std::unique_ptr<TitleBar> window;
    std::unique_ptr<AppController> ctrl;
    std::unique_ptr<testrec::TestRecorder> rec;
    QStringList alerts;
    bool quitCalled = false;
};

// What a screen reader does to a check box: the Toggle action of its
// accessible interface, which changes the box without a click.
inline void toggleByTool(QAbstractButton* box)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
    ASSERT_TRUE(iface && iface->actionInterface());
    ASSERT_TRUE(iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

inline void pressSpace(QAbstractButton* box)
{
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Space);
}

// One record of an event-log answer: a day with its channel and event masks.
inline testrec::Bytes historyRecord(uint32_t day, uint16_t channels, uint16_t events)
{
    testrec::Bytes b;
    testrec::appendLe32(b, day);
    testrec::appendLe32(b, 0);
    testrec::appendLe16(b, channels);
    testrec::appendLe16(b, events);
    testrec::appendLe16(b, 0);
    testrec::appendLe16(b, 0x0100);
    return b;
}

}  // namespace guitest
