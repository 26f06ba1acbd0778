// What assistive tools read in every window and panel: a label, or a
// read-only field, whose text the program sets is read by that text, never
// by a fixed word standing in for it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
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
    // A recorder that sends no pictures, sound or echoes, and its site.
    void addQuietRecorder(testrec::RecorderConfig& cfg)
    {
        cfg.streamVideo = false;
        cfg.streamAudio = false;
        cfg.echoIntervalMs = 0;
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        addSite({.name = "Recorder", .port = rec->port(), .id = "admin", .password = "1234"});
    }
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
    ASSERT_NO_FATAL_FAILURE(addQuietRecorder(cfg));
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

// The site editor's DDNS box and the event search's boxes act on their new
// state when a screen reader toggles them, as from the keyboard: the whole
// boxes free or lock the single ones, and the request and the stored site
// follow what the boxes show.
TEST_F(Accessibility, CheckBoxesActWhenAToolOrTheKeyboardTogglesThem)
{
    testrec::RecorderConfig cfg;
    ASSERT_NO_FATAL_FAILURE(addQuietRecorder(cfg));
    window->btnConnect()->click();
    ASSERT_TRUE(rec->waitForCommand(6, 5s, 2).has_value());
    ctrl->ShowSearchView();
    pressSearch("btnEventSearch", [&](QWidget* p) {
        auto box = [p](const char* n) { return p->findChild<QCheckBox*>(n); };
        auto request = [&] {
            auto* send = p->findChild<QPushButton*>("btnHistory");
            send->click();
            ASSERT_TRUE(waitFor([&] { return send->isEnabled(); }, 5s));
        };
        p->findChild<QDateEdit*>("datePickerTimeSel")->setDate(QDate(2024, 1, 15));
        QCheckBox* wholeCh = box("checkWholeCh");
        QCheckBox* wholeEvent = box("checkWholeEvent");
        ASSERT_FALSE(box("checkCh1")->isEnabled() || box("checkVideo")->isEnabled());
        guitest::toggleByTool(wholeCh);
        EXPECT_TRUE(box("checkCh1")->isEnabled() && box("checkCH4")->isEnabled());
        guitest::toggleByTool(box("checkCH2"));
        guitest::pressSpace(box("checkCH3"));
        guitest::pressSpace(wholeEvent);
        EXPECT_TRUE(box("checkVideo")->isEnabled() && box("checkSensor")->isEnabled());
        guitest::toggleByTool(box("checkVideo"));
        guitest::pressSpace(box("checkSystem"));
        request();
        // And back: the single boxes are locked again and no longer read.
        guitest::toggleByTool(wholeEvent);
        EXPECT_FALSE(box("checkVideo")->isEnabled());
        guitest::pressSpace(wholeCh);
        EXPECT_FALSE(box("checkCh1")->isEnabled());
        request();
    });
    std::vector<testrec::Bytes> sent;
    for (const auto& c : rec->commands())
        if (c.id == 32)
            sent.push_back(c.payload);
    const uint32_t day = testrec::civilToTime(2024, 1, 15);
    EXPECT_EQ(sent,
              (std::vector<testrec::Bytes>{guitest::historyRecord(day, 0x0009, 0x0003),
                                           guitest::historyRecord(day, 0xFFFF, 0xFFFF)}));

    ctrl->ShowIpsetView();
    IPSetViewController* editor = ctrl->siteEditor();
    auto* ddns = editor->view()->findChild<QCheckBox*>("ddnsUse");
    auto* name = editor->view()->findChild<QLineEdit*>("regName");
    ASSERT_TRUE(ddns && name);
    for (int i = 1; i <= 2; ++i) {
        i == 1 ? guitest::toggleByTool(ddns) : guitest::pressSpace(ddns);
        name->setText(QString("Site %1").arg(i));
        editor->view()->findChild<QPushButton*>("addButton")->click();
        ASSERT_EQ(ctrl->siteBook().count(), i + 1);
        EXPECT_EQ(ctrl->siteBook().record(i)->bDDNSUSe(), i == 1 ? 1 : 0);
    }
}

}  // namespace
