// What assistive tools read in every window and panel: a label, or a
// read-only field, whose text the program sets is read by that text, never
// by a fixed word standing in for it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

#include "GuiTestSupport.h"
#include "app/AppController.h"
#include "app/IPSetViewController.h"
#include "app/TitleBar.h"
#include "app/VESKCtrlViewController.h"
#include "device/TestDevice.h"
#include "link/CNetDef.h"
#include "link/NxLib.h"
#include "panels/CalendarSearchController.h"
#include "panels/HistorySearchController.h"
#include "panels/ModalSearchWindow.h"
#include "panels/SearchViewController.h"
#include "panels/TimeSearchController.h"
#include "panels/VorelLumoCtrl2Controller.h"
#include "recorder/TestRecorder.h"

namespace {

using namespace std::chrono_literals;
using guitest::waitFor;

QString nameOf(QWidget* w)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// Every label under root is named by its text; a read-only field has no
// fixed name, or its text as its name.
void expectTextsAreNames(QWidget* root, const char* where)
{
    QList<QWidget*> all = root->findChildren<QWidget*>();
    all.prepend(root);
    for (QWidget* w : all) {
        if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(nameOf(label), label->text()) << where << ": " << label->objectName().toStdString();
        } else if (auto* field = qobject_cast<QLineEdit*>(w); field && field->isReadOnly()) {
            if (!field->accessibleName().isEmpty()) {
                EXPECT_EQ(nameOf(field), field->text()) << where << ": " << field->objectName().toStdString();
            }
        }
    }
}

QString labelText(QWidget* panel, const char* name)
{
    auto* label = panel->findChild<QLabel*>(name);
    return label ? label->text() : QString("(no %1)").arg(name);
}

class Accessibility : public guitest::AppWindowTest {
protected:
    void TearDown() override
    {
        AppWindowTest::TearDown();
        if (dev)
            dev->stop();
    }
    // Presses a playback panel button; `during` runs inside the search run,
    // which is cancelled afterwards if still open.
    void pressSearch(const char* button, const std::function<void(QWidget* panel)>& during)
    {
        QTimer::singleShot(0, ctrl.get(), [this, during] {
            QWidget* panel = ctrl->timeSearchPanel();
            if (!panel)
                panel = ctrl->calendarSearchPanel();
            if (!panel)
                panel = ctrl->historySearchPanel();
            if (panel)
                during(panel);
            else
                ADD_FAILURE() << "no search panel";
            if (ModalSearchWindow* w = ctrl->searchWindow(); w && w->isVisible())
                w->reject();
        });
        ctrl->playbackPanel()->findChild<QAbstractButton*>(button)->click();
    }

    std::unique_ptr<testdev::TestDevice> dev;
};

TEST_F(Accessibility, RecorderWindowsAndSearchPanelsReadTheirTexts)
{
    testrec::RecorderConfig cfg;
    cfg.streamVideo = false;
    cfg.streamAudio = false;
    cfg.echoIntervalMs = 0;
    ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
    addSite({.name = "Recorder", .port = rec->port(), .id = "admin", .password = "1234"});
    expectTextsAreNames(ctrl->siteEditor()->view(), "site editor");
    window->btnConnect()->click();
    ASSERT_TRUE(rec->waitForCommand(6, 5s, 2).has_value());
    expectTextsAreNames(ctrl->controlBar()->view(), "control bar");
    ctrl->ShowDisplayView();
    ctrl->ShowAudioView();
    ctrl->ShowPTZView();
    ctrl->ShowSearchView();
    // The main window holds every panel shown so far, and the status line.
    expectTextsAreNames(window.get(), "main window");
    EXPECT_EQ(nameOf(window->netStatus()), ctrl->statusText());
    EXPECT_FALSE(ctrl->statusText().isEmpty());

    const QString start = QString::fromStdString(timeText(cfg.recordStart));
    pressSearch("btnTimeSearch", [&](QWidget* p) {
        ASSERT_TRUE(waitFor([&] { return labelText(p, "labelStartTime") == start; }, 5s));
        EXPECT_EQ(nameOf(p->findChild<QLabel*>("labelStartTime")), start);
        expectTextsAreNames(p, "time search");
    });
    pressSearch("btnCalendarSearch", [&](QWidget* p) {
        ASSERT_TRUE(waitFor([&] { return labelText(p, "labelDataStatus") == "Data receiving is completed"; }, 5s));
        expectTextsAreNames(p, "calendar search");
        // The recorder fails the next search.
        rec->updateConfig([](testrec::RecorderConfig& c) { c.searchInfoFail = true; });
        ctrl->RequestSearchInfo(15, SEARCH_KIND_DAY, int32_t(cfg.recordStart));
        ASSERT_TRUE(waitFor([&] { return labelText(p, "labelDataStatus") == "Data receiving is failed"; }, 5s));
        EXPECT_EQ(nameOf(p->findChild<QLabel*>("labelDataStatus")), "Data receiving is failed");
    });
    pressSearch("btnEventSearch", [&](QWidget* p) {
        p->findChild<QDateEdit*>("datePickerTimeSel")->setDate(QDate(2024, 1, 15));
        p->findChild<QPushButton*>("btnHistory")->click();
        ASSERT_TRUE(waitFor([&] { return labelText(p, "labelHistoryCount") == "Count : 3"; }, 5s));
        EXPECT_EQ(nameOf(p->findChild<QLabel*>("labelHistoryCount")), "Count : 3");
        expectTextsAreNames(p, "event search");
    });
}

TEST_F(Accessibility, KeypadPanelsReadTheLinkState)
{
    dev = std::make_unique<testdev::TestDevice>();
    ASSERT_TRUE(dev->start(0));
    addSite({.name = "Keypad device", .model = SITE_MODEL_MJPEG, .port = dev->port(), .password = "1234"});
    window->btnConnect()->click();
    ASSERT_NE(ctrl->devicePanels(), nullptr);
    ASSERT_TRUE(waitFor([&] { return ctrl->playbackKeysPanel()->netStateText() == "Connected"; }, 5s));
    auto* state = ctrl->devicePanels()->findChild<QLineEdit*>("m_NetField");
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(nameOf(state), "Connected");
    QTemporaryDir dir;
    ctrl->chooseFolder = [&](const QString&) { return dir.path(); };
    for (auto* b : ctrl->devicePanels()->findChildren<QAbstractButton*>())
        if (b->accessibleName() == "Folder")
            b->click();
    EXPECT_EQ(ctrl->devicePanels()->findChild<QLineEdit*>("m_PathField")->text(), dir.path());
    EXPECT_EQ(nameOf(ctrl->devicePanels()->findChild<QLineEdit*>("m_PathField")), dir.path());
    expectTextsAreNames(ctrl->devicePanels(), "keypad panels");

    window->btnDisconnect()->click();
    ASSERT_TRUE(waitFor([&] { return ctrl->playbackKeysPanel()->netStateText() == "Disconnected"; }, 3s));
    EXPECT_EQ(nameOf(state), "Disconnected");
}

}  // namespace
