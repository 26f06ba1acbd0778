// The calendar and event-log search panels: answered by hand through their
// controls, and end to end from the playback panel's buttons through the
// main controller and a real link to the test recorder.
#include <gtest/gtest.h>

#include "GuiTestSupport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/AppController.h"
#include "app/TitleBar.h"
#include "link/CNetDef.h"
#include "link/NxNet.h"
#include "panels/CalendarSearchController.h"
#include "panels/HistorySearchController.h"
#include "panels/IPlaybackTarget.h"
#include "panels/ModalSearchWindow.h"
#include "panels/MyColorWell.h"
#include "panels/SearchViewController.h"
#include "recorder/Protocol.h"
#include "recorder/TestRecorder.h"

namespace {

using namespace std::chrono_literals;
using guitest::pickerTime;
using guitest::runModal;
using guitest::waitFor;
using testrec::Bytes;
using testrec::civilToTime;

const uint32_t kDay = civilToTime(2024, 1, 15);

struct Target : IPlaybackTarget {
    std::vector<std::string> calls;
    std::vector<Bytes> history;
    bool PlaySpeed(int32_t) override { return true; }
    void ExitLive() override {}
    void ShowTimeSearchView() override {}
    void ShowEventSearchView() override {}
    void ShowCalendarView() override {}
    void RequestSearchInfo(int32_t cmd, int32_t a, int32_t b) override
    {
        calls.push_back(std::to_string(cmd) + " " + std::to_string(a) + " " + std::to_string(b));
    }
    void RequestHistory(const uint8_t* record, size_t len) override { history.emplace_back(record, record + len); }
    void EndHistory() override { ++historyEnds; }
    int historyEnds = 0;
};

template <typename T>
T* child(QWidget* w, const char* name)
{
    T* c = w->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

void clickRow(QTableView* table, int row)
{
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(row, 0)).center());
}

// A check box takes clicks on its indicator and text only.
void click(QWidget* w)
{
    if (qobject_cast<QCheckBox*>(w))
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
    else
        QTest::mouseClick(w, Qt::LeftButton);
}

std::string req(int kind, uint32_t t)
{
    return "15 " + std::to_string(kind) + " " + std::to_string(int32_t(t));
}

uint32_t wallTime(const QDateTime& d)
{
    return civilToTime(d.date().year(), d.date().month(), d.date().day(), d.time().hour(), d.time().minute(),
                       d.time().second());
}

QPushButton* dayButtonOf(CalendarSearchController* p, int day)
{
    for (int c = 0; c < 7; ++c)
        for (int r = 0; r < 6; ++r)
            if (p->dayButton(c, r)->text() == QString::number(day))
                return p->dayButton(c, r);
    ADD_FAILURE() << "no button for day " << day;
    return p->dayButton(0, 0);
}

QString statusOf(QWidget* p)
{
    return p->findChild<QLabel*>("labelDataStatus")->text();
}

std::vector<int> hoursOf(CalendarSearchController* p, const QColor& c)
{
    std::vector<int> out;
    for (int h = 0; h < 24; ++h)
        if (p->hourCell(h)->color() == c)
            out.push_back(h);
    return out;
}

// ---------------------------------------------------------------------------
// Calendar panel, answered by hand

class CalendarPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        guitest::ensureApp();
        panel = std::make_unique<CalendarSearchController>();
        panel->setMainCtrlPointer(&target);
    }
    void open(int group)
    {
        panel->SetModel(group, 2);
        panel->show();
    }
    QString text(const char* name) { return child<QLabel>(panel.get(), name)->text(); }
    QDateTimeEdit* playPicker() { return child<QDateTimeEdit>(panel.get(), "datePickerSearch"); }
    // The user picks a date in the month picker.
    void pickDate(const QDate& d) { child<QDateEdit>(panel.get(), "datePickerCalendar")->setDate(d); }
    QPushButton* dayButton(int d) { return dayButtonOf(panel.get(), d); }
    bool marked(int d) { return !dayButton(d)->icon().isNull(); }
    // The recorder's day answer for 2024-01-d, handed on as the link does.
    void answerDay(int group, int d, uint32_t from, uint32_t to, int slot = -1)
    {
        Bytes a = testrec::dayAnswer(group, 0, 30, civilToTime(2024, 1, d), from, to, 4);
        panel->SetSearchInfo(SEARCH_INFO_DAY, slot < 0 ? d - 1 : slot, 0, a.data() + 8, a.size() - 8);
    }
    QColor minute(int m, int ch) { return panel->minuteCell(m, ch)->color(); }
    std::vector<int> greenHours() { return hoursOf(panel.get(), Qt::green); }

    Target target;
    ModalSearchWindow window;
    std::unique_ptr<CalendarSearchController> panel;
};

std::vector<int> range(int from, int to)
{
    std::vector<int> v;
    for (int i = from; i <= to; ++i)
        v.push_back(i);
    return v;
}

TEST_F(CalendarPanel, RangeThenMonthRequestAndLabels)
{
    open(7);
    EXPECT_EQ(target.calls, std::vector<std::string>{req(3, 0)});
    EXPECT_EQ(text("labelDataStatus"), "Requesting Data search");
    const QDate today = QDate::currentDate();
    panel->SetSearchInfo(SEARCH_INFO_RANGE, int32_t(civilToTime(2024, 1, 10, 8)),
                         int32_t(civilToTime(2024, 1, 20, 18, 30, 5)));
    EXPECT_EQ(text("labelStartTime"), "Start time : 2024-01-10 08:00:00");
    EXPECT_EQ(text("labelEndTime"), "End time  : 2024-01-20 18:30:05");
    EXPECT_EQ(target.calls.back(), req(2, civilToTime(today.year(), today.month(), 1)));
    panel->SetSearchInfo(SEARCH_INFO_FAIL, 0, 0);
    EXPECT_EQ(text("labelDataStatus"), "Data receiving is failed");
}

TEST_F(CalendarPanel, MonthGridMarksAndNames)
{
    open(7);
    pickDate(QDate(2023, 7, 15));  // starts on a Saturday, six rows
    for (int c = 0; c < 6; ++c)
        EXPECT_FALSE(panel->dayButton(c, 0)->isEnabled()) << c;
    EXPECT_EQ(panel->dayButton(6, 0)->text(), "1");
    EXPECT_EQ(panel->dayButton(1, 5)->accessibleName(), "31");
    EXPECT_EQ(panel->dayMarker()->pos(), dayButton(15)->pos());
    EXPECT_EQ(panel->hourCell(5)->accessibleName(), "Hour 5");
    EXPECT_EQ(panel->minuteCell(7, 2)->accessibleName(), "Minute 7 Channel 3");

    // The range answer asks for the shown month; the answer marks its days.
    panel->SetSearchInfo(SEARCH_INFO_RANGE, 1, 2);
    EXPECT_EQ(target.calls.back(), req(2, civilToTime(2023, 7, 1)));
    panel->SetSearchInfo(SEARCH_INFO_MONTH, int32_t(1u | 1u << 14 | 1u << 30), 0);
    EXPECT_EQ(text("labelDataStatus"), "Data receiving is completed");
    for (int d = 1; d <= 31; ++d)
        EXPECT_EQ(marked(d), d == 1 || d == 15 || d == 31) << d;
    // Choosing a day sets both pickers from code: the marks stay.
    click(dayButton(20));
    EXPECT_EQ(target.calls.back(), req(1, civilToTime(2023, 7, 20)));
    EXPECT_TRUE(marked(15));
    EXPECT_EQ(panel->dayMarker()->pos(), dayButton(20)->pos());
    EXPECT_EQ(playPicker()->date(), QDate(2023, 7, 20));
    // The user's own pick clears them; February of a leap year has 29 days.
    pickDate(QDate(2024, 2, 10));
    EXPECT_EQ(panel->recDay(), 0u);
    EXPECT_EQ(panel->dayButton(4, 0)->text(), "1");
    EXPECT_EQ(panel->dayButton(4, 4)->text(), "29");
    EXPECT_EQ(panel->dayButton(5, 4)->text(), "");
}

TEST_F(CalendarPanel, MonthStepsKeepTheDayInsideTheMonth)
{
    open(7);
    pickDate(QDate(2024, 3, 31));
    panel->SetSearchInfo(SEARCH_INFO_RANGE, 1, 2);
    panel->SetSearchInfo(SEARCH_INFO_MONTH, 0xFF, 0);
    EXPECT_EQ(panel->recDay(), 0xFFu);
    click(child<QPushButton>(panel.get(), "btnLastMonth"));
    EXPECT_EQ(panel->recDay(), 0u);
    EXPECT_EQ(playPicker()->date(), QDate(2024, 2, 29));
    click(child<QPushButton>(panel.get(), "btnLastMonth"));
    click(child<QPushButton>(panel.get(), "btnLastMonth"));
    EXPECT_EQ(playPicker()->date(), QDate(2023, 12, 29));
    click(child<QPushButton>(panel.get(), "btnNextMonth"));
    EXPECT_EQ(child<QDateEdit>(panel.get(), "datePickerCalendar")->date(), QDate(2024, 1, 29));
    const size_t sent = target.calls.size();
    click(child<QPushButton>(panel.get(), "btnToday"));
    EXPECT_EQ(playPicker()->date(), QDate::currentDate());
    EXPECT_EQ(target.calls.size(), sent);  // steps ask for nothing
}

TEST_F(CalendarPanel, StepsStopAtTheEndsOfThePickersRange)
{
    open(7);
    QDateEdit* month = child<QDateEdit>(panel.get(), "datePickerCalendar");
    pickDate(QDate(1970, 2, 10));
    click(child<QPushButton>(panel.get(), "btnLastMonth"));
    click(child<QPushButton>(panel.get(), "btnLastMonth"));
    EXPECT_EQ(month->date(), QDate(1970, 1, 10));
    EXPECT_EQ(playPicker()->date(), QDate(1970, 1, 10));
    EXPECT_EQ(panel->dayButton(4, 0)->text(), "1");  // a Thursday, not December 1969's 4th
    click(dayButton(1));
    EXPECT_EQ(target.calls.back(), req(1, 0));

    pickDate(QDate(2037, 12, 5));
    click(child<QPushButton>(panel.get(), "btnNextMonth"));
    EXPECT_EQ(month->date(), QDate(2037, 12, 5));
    EXPECT_EQ(panel->dayButton(4, 4)->text(), "31");  // not January 2038's 28th
    click(dayButton(31));
    EXPECT_EQ(target.calls.back(), req(1, civilToTime(2037, 12, 31)));
}

class CalendarDayMaps : public CalendarPanel, public ::testing::WithParamInterface<int> {};

TEST_P(CalendarDayMaps, HoursAndMinutesFromTheDayRecord)
{
    const int group = GetParam();
    open(group);
    pickDate(QDate(2024, 1, 15));
    click(dayButton(15));
    answerDay(group, 15, civilToTime(2024, 1, 15, 8), civilToTime(2024, 1, 15, 18, 30));
    EXPECT_EQ(text("labelDataStatus"), "Data receiving is completed");
    EXPECT_EQ(greenHours(), range(8, 18));

    click(panel->hourCell(9));
    EXPECT_TRUE(panel->hourMarker()->isVisible());
    EXPECT_EQ(panel->hourMarker()->pos(), panel->hourCell(9)->pos());
    EXPECT_EQ(minute(5, 0), QColor(Qt::blue));     // motion
    EXPECT_EQ(minute(15, 1), QColor(Qt::red));     // sensor
    EXPECT_EQ(minute(25, 2), QColor(Qt::yellow));  // both
    EXPECT_EQ(minute(40, 3), QColor(Qt::green));
    EXPECT_EQ(minute(40, 4), QColor(Qt::white));   // a channel the recorder lacks
    click(panel->minuteCell(25, 2));
    EXPECT_TRUE(panel->minuteMarker()->isVisible());
    EXPECT_EQ(panel->minuteMarker()->x(), panel->minuteCell(25, 0)->x());
    EXPECT_EQ(playPicker()->dateTime(), QDateTime(QDate(2024, 1, 15), QTime(9, 25), Qt::LocalTime));
    EXPECT_EQ(runModal(window, panel.get(), [&] { click(child<QPushButton>(panel.get(), "btnPlay")); }),
              int32_t(civilToTime(2024, 1, 15, 9, 25)));

    // Another day paints the minutes white until an hour is chosen.
    click(dayButton(16));
    EXPECT_EQ(minute(5, 0), QColor(Qt::white));
    EXPECT_FALSE(panel->hourMarker()->isVisible());
}

// 7: H form, 8, 9, 11, 12: HDHL form.
INSTANTIATE_TEST_SUITE_P(Groups, CalendarDayMaps, ::testing::Values(7, 8, 9, 11, 12));

TEST_F(CalendarPanel, ShortDayRecordsAndBadSlots)
{
    open(2);  // the first 14,452 bytes of an H map
    pickDate(QDate(2024, 1, 15));
    click(dayButton(15));
    answerDay(2, 15, civilToTime(2024, 1, 15), civilToTime(2024, 1, 16));
    EXPECT_EQ(greenHours(), range(0, 19));
    click(panel->hourCell(19));
    EXPECT_EQ(minute(5, 0), QColor(Qt::blue));

    // A slot outside the month is not stored.
    answerDay(2, 15, 0, 0, 31);
    EXPECT_EQ(text("labelDataStatus"), "Data receiving is failed");
    EXPECT_EQ(greenHours(), range(0, 19));
    // An answer nobody asked for with nothing recorded paints nothing.
    answerDay(2, 15, 0, 0);
    EXPECT_EQ(text("labelDataStatus"), "Data receiving is completed");
    EXPECT_EQ(greenHours(), range(0, 19));
}

TEST_F(CalendarPanel, PlayUntouchedGivesTheOpeningMomentCancelGivesZero)
{
    const uint32_t before = wallTime(QDateTime::currentDateTime());
    const int32_t t = runModal(window, panel.get(), [&] { click(child<QPushButton>(panel.get(), "btnPlay")); });
    EXPECT_GE(uint32_t(t), before);
    EXPECT_LE(uint32_t(t), wallTime(QDateTime::currentDateTime()));
    EXPECT_EQ(runModal(window, panel.get(), [&] { click(child<QPushButton>(panel.get(), "btnCancel")); }), 0);
    EXPECT_EQ(runModal(window, panel.get(), [&] { window.close(); }), 0);
}

// ---------------------------------------------------------------------------
// Event-log panel, answered by hand

class HistoryPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        guitest::ensureApp();
        panel = std::make_unique<HistorySearchController>();
    }
    void open(int channels, int group)
    {
        panel->SetCh(int8_t(channels));
        panel->setMainCtrlPointer(&target);
        panel->SetModel(group, 2);
        panel->show();
        child<QDateEdit>(panel.get(), "datePickerTimeSel")->setDate(QDate(2024, 1, 15));
    }
    QCheckBox* box(const char* name) { return child<QCheckBox>(panel.get(), name); }
    QCheckBox* ch(int n) { return box(n == 1 ? "checkCh1" : qPrintable(QString("checkCH%1").arg(n))); }
    QPushButton* search() { return child<QPushButton>(panel.get(), "btnHistory"); }
    QString count() { return child<QLabel>(panel.get(), "labelHistoryCount")->text(); }
    void page(const Bytes& p) { panel->SetSearchInfo(SEARCH_INFO_HISTORY, 0, 0, p.data(), p.size()); }
    Bytes pageOf(int group, testrec::HistoryStatus st, int first, int items)
    {
        return testrec::historyPage(group, 0, 30, st, kDay, first, items);
    }
    QString cell(int row, int column)
    {
        auto* t = child<QTableView>(panel.get(), "tableEventView");
        return t->model()->index(row, column).data().toString();
    }

    Target target;
    ModalSearchWindow window;
    std::unique_ptr<HistorySearchController> panel;
};

TEST_F(HistoryPanel, LoadFollowsChannelCountAndGroup)
{
    open(4, 7);
    EXPECT_EQ(target.calls, std::vector<std::string>{req(3, 0)});
    EXPECT_TRUE(box("checkUnattended")->isHidden());
    EXPECT_TRUE(box("checkMuseum")->isHidden());
    for (const char* n : {"checkVideo", "checkSystem", "checkMotion", "checkSensor"})
        EXPECT_FALSE(box(n)->isEnabled()) << n;
    for (int n = 1; n <= 16; ++n) {
        EXPECT_EQ(ch(n)->isHidden(), n > 4) << n;
        EXPECT_EQ(ch(n)->isEnabled(), n > 4) << n;
    }
    EXPECT_EQ(child<QTableView>(panel.get(), "tableEventView")->accessibleName(), "Events");

    // No recorder (0) or more channels than boxes: all 16 boxes count.
    for (int channels : {0, 20}) {
        target.history.clear();
        panel = std::make_unique<HistorySearchController>();
        open(channels, 8);
        EXPECT_FALSE(box("checkMuseum")->isHidden());
        for (int n = 1; n <= 16; ++n)
            EXPECT_TRUE(!ch(n)->isEnabled() && !ch(n)->isHidden()) << n;
        click(box("checkWholeCh"));
        click(ch(16));
        EXPECT_TRUE(ch(1)->isEnabled());
        click(search());
        ASSERT_EQ(target.history.size(), 1u);
        EXPECT_EQ(target.history[0], guitest::historyRecord(kDay, 0x7FFF, 0xFFFF)) << channels;
    }
}

TEST_F(HistoryPanel, RequestRecordFollowsTheBoxes)
{
    open(4, 8);
    click(search());
    ASSERT_EQ(target.history.size(), 1u);
    EXPECT_EQ(target.history[0], guitest::historyRecord(kDay, 0xFFFF, 0xFFFF));
    EXPECT_EQ(count(), "Waiting data..");
    EXPECT_FALSE(search()->isEnabled());
    page(pageOf(8, testrec::HistoryStatus::Busy, 0, 0));

    click(box("checkWholeCh"));
    EXPECT_TRUE(ch(1)->isEnabled() && ch(4)->isEnabled());
    click(ch(2));
    click(box("checkWholeEvent"));
    EXPECT_TRUE(box("checkMuseum")->isEnabled());
    click(box("checkVideo"));
    click(box("checkSystem"));
    click(search());
    EXPECT_EQ(target.history.back(), guitest::historyRecord(kDay, 0x000D, 0x63));
    page(pageOf(8, testrec::HistoryStatus::Busy, 0, 0));

    // No kind chosen: nothing is sent.
    for (const char* n : {"checkMotion", "checkSensor", "checkUnattended", "checkMuseum"})
        click(box(n));
    click(search());
    EXPECT_EQ(target.history.size(), 2u);
    EXPECT_TRUE(search()->isEnabled());
}

TEST_F(HistoryPanel, OtherGroupsNeverReadTheMuseumBoxes)
{
    open(16, 7);
    click(box("checkWholeEvent"));
    click(box("checkVideo"));
    click(box("checkSystem"));
    click(search());
    ASSERT_EQ(target.history.size(), 1u);
    EXPECT_EQ(target.history[0], guitest::historyRecord(kDay, 0xFFFF, 0x03));
}

TEST_F(HistoryPanel, PagesAppendUntilTheLastOne)
{
    open(4, 7);
    click(search());
    page(pageOf(7, testrec::HistoryStatus::Normal, 0, 3));
    EXPECT_EQ(panel->numberOfRowsInTableView(), 3);
    EXPECT_EQ(count(), "Count : 3");
    EXPECT_FALSE(search()->isEnabled());
    page(pageOf(7, testrec::HistoryStatus::End, 3, 2));
    EXPECT_EQ(count(), "Count : 5");
    EXPECT_TRUE(search()->isEnabled());
    EXPECT_EQ(cell(3, 0), "2024/01/15 00:40:00");
    EXPECT_EQ(cell(3, 1), "UNATTENDED");
    EXPECT_EQ(cell(3, 2), "CH 3");

    page(pageOf(7, testrec::HistoryStatus::Busy, 0, 0));
    EXPECT_EQ(count(), "Get History fail.Please retry..");
    EXPECT_EQ(panel->numberOfRowsInTableView(), 5);
    page(Bytes{1, 0, 0, 0, 5, 0});  // too short: ignored
    EXPECT_EQ(count(), "Get History fail.Please retry..");
    page(pageOf(7, testrec::HistoryStatus::Empty, 0, 0));
    EXPECT_EQ(count(), "No Data");

    click(search());  // a new request starts a new list
    EXPECT_EQ(panel->numberOfRowsInTableView(), 0);
    Bytes odd = pageOf(7, testrec::HistoryStatus::End, 0, 2);
    odd[0] = 7;
    page(odd);
    EXPECT_TRUE(search()->isEnabled());
    EXPECT_EQ(panel->numberOfRowsInTableView(), 0);
}

TEST_F(HistoryPanel, ListStopsAtItsLimitAndEndsTheSearch)
{
    const int limit = int(HistorySearchController::kMaxHistoryRows);
    const int full = 16384;  // items of a full H page
    open(4, 7);
    click(search());
    page(pageOf(7, testrec::HistoryStatus::Normal, 0, full));
    EXPECT_EQ(count(), QString("Count : %1").arg(full));
    EXPECT_EQ(target.historyEnds, 0);
    page(pageOf(7, testrec::HistoryStatus::Normal, full, full));
    EXPECT_EQ(panel->numberOfRowsInTableView(), limit);
    EXPECT_EQ(count(), QString("Count : %1 (more not shown)").arg(limit));
    EXPECT_EQ(target.historyEnds, 1);
    EXPECT_TRUE(search()->isEnabled());
    // Later pages of the search change nothing.
    page(pageOf(7, testrec::HistoryStatus::Empty, 0, 0));
    EXPECT_EQ(count(), QString("Count : %1 (more not shown)").arg(limit));
    EXPECT_EQ(target.historyEnds, 1);

    // A search that ends exactly at the limit was not cut; one page more is.
    click(search());
    EXPECT_EQ(panel->numberOfRowsInTableView(), 0);
    page(pageOf(7, testrec::HistoryStatus::Normal, 0, full));
    page(pageOf(7, testrec::HistoryStatus::End, full, limit - full));
    EXPECT_EQ(count(), QString("Count : %1").arg(limit));
    EXPECT_EQ(target.historyEnds, 1);
    click(search());
    page(pageOf(7, testrec::HistoryStatus::Normal, 0, full));
    page(pageOf(7, testrec::HistoryStatus::Normal, full, limit - full));
    EXPECT_EQ(count(), QString("Count : %1 (more not shown)").arg(limit));
    EXPECT_EQ(target.historyEnds, 2);
}

TEST_F(HistoryPanel, HdhlGroupsReadTheHdhlForm)
{
    open(16, 11);
    click(search());
    page(pageOf(11, testrec::HistoryStatus::End, 0, 8));
    EXPECT_EQ(cell(3, 0), "2024/01/15 00:40:00 DEL");
    EXPECT_EQ(cell(6, 2), QString::fromUtf8("Kamera \xC3\xBC"));
}

// ---------------------------------------------------------------------------
// End to end: the playback panel's buttons, the main controller, a real link
// and the test recorder.

class SearchWindows : public guitest::AppWindowTest {
protected:
    void connectTo(testrec::RecorderConfig cfg)
    {
        cfg.streamVideo = false;
        cfg.streamAudio = false;
        cfg.echoIntervalMs = 0;
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        addSite({.name = "Recorder", .port = rec->port(), .id = "admin", .password = "1234"});
        window->btnConnect()->click();
        ASSERT_EQ(rec->waitForLogin(5s), testrec::LoginResult::Accepted);
        ASSERT_TRUE(waitFor([&] { return ctrl->_dvrInfo()->modelGroup() == testrec::modelGroup(cfg.modelId); }, 3s));
        ASSERT_TRUE(rec->waitForCommand(6, 5s, 2).has_value());
        ctrl->ShowSearchView();
        rec->clearCommands();
    }
    // Presses a playback panel button; `during` runs inside the search run,
    // which ends (cancelled) if `during` left it open, also on a failed step.
    void pressSearch(const char* button, const std::function<void()>& during)
    {
        QTimer::singleShot(0, ctrl.get(), [this, during] {
            during();
            if (ModalSearchWindow* w = ctrl->searchWindow(); w && w->isVisible())
                w->reject();
        });
        click(ctrl->playbackPanel()->findChild<QAbstractButton*>(button));
    }
    std::vector<Bytes> payloads(uint32_t id)
    {
        std::vector<Bytes> out;
        for (const auto& c : rec->commands())
            if (c.id == id)
                out.push_back(c.payload);
        return out;
    }
    uint32_t seekTime()
    {
        auto seek = rec->waitForCommand(29, 3s);
        return seek ? testrec::readLe32(seek->payload, 0) : 0;
    }
};

Bytes searchInfo(int kind, uint32_t t)
{
    Bytes b;
    testrec::appendLe32(b, uint32_t(kind));
    testrec::appendLe32(b, t);
    return b;
}

TEST_F(SearchWindows, CalendarPlaysTheChosenMinute)
{
    const QDate today = QDate::currentDate();
    const uint32_t now = wallTime(QDateTime::currentDateTime());
    testrec::RecorderConfig cfg;
    cfg.recordStart = now - 40 * 86400;
    cfg.recordEnd = now;
    connectTo(cfg);
    const uint32_t monthStart = civilToTime(today.year(), today.month(), 1);
    const uint32_t dayStart = civilToTime(today.year(), today.month(), today.day());
    pressSearch("btnCalendarSearch", [&] {
        CalendarSearchController* p = ctrl->calendarSearchPanel();
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(waitFor([&] { return p->recDay() != 0; }, 5s));
        EXPECT_EQ(p->recDay(), testrec::monthDayMask(monthStart, cfg.recordStart, cfg.recordEnd));
        QPushButton* b = nullptr;
        for (int c = 0; c < 7; ++c)
            for (int r = 0; r < 6; ++r)
                if (p->dayButton(c, r)->text() == QString::number(today.day()))
                    b = p->dayButton(c, r);
        ASSERT_NE(b, nullptr);
        EXPECT_FALSE(b->icon().isNull());
        click(b);
        ASSERT_TRUE(waitFor([&] { return p->hourCell(0)->color() == QColor(Qt::green); }, 5s));
        click(p->hourCell(0));
        EXPECT_EQ(p->minuteCell(0, 0)->color(), QColor(Qt::blue));
        click(p->minuteCell(0, 0));
        click(p->findChild<QPushButton*>("btnPlay"));
    });
    EXPECT_EQ(ctrl->calendarSearchPanel(), nullptr);
    EXPECT_EQ(payloads(15), (std::vector<Bytes>{searchInfo(3, 0), searchInfo(2, monthStart), searchInfo(1, dayStart)}));
    EXPECT_EQ(seekTime(), dayStart);
    EXPECT_TRUE(rec->waitForCommand(22, 3s));
    EXPECT_TRUE(
        rec->waitUntil([](const testrec::RecorderStatus& s) { return s.play == testrec::PlayState::Playing; }, 3s));
    // A late answer finds no window.
    rec->sendCommand(18, searchInfo(0, 0xFF));
    QTest::qWait(200);
}

// Model ids of groups 0 and 1 (11,620-byte HDHL maps), 10 (the same), 7 (the
// whole H form) and 2 (an H map cut to 14,452 bytes).
class CalendarDayForms : public SearchWindows, public ::testing::WithParamInterface<int> {};

TEST_P(CalendarDayForms, RecordedHoursOfTheDayAndEmptyOrFailedDays)
{
    const int group = testrec::modelGroup(GetParam());
    const QDate today = QDate::currentDate();
    const QDate other = today.addDays(today.day() > 10 ? -5 : 5);
    const uint32_t midnight = civilToTime(today.year(), today.month(), today.day());
    testrec::RecorderConfig cfg;
    cfg.modelId = uint32_t(GetParam());
    cfg.recordStart = midnight;
    cfg.recordEnd = midnight + 86399;  // only today is recorded
    connectTo(cfg);
    pressSearch("btnCalendarSearch", [&] {
        CalendarSearchController* p = ctrl->calendarSearchPanel();
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(waitFor([&] { return p->recDay() != 0; }, 5s));
        click(dayButtonOf(p, today.day()));
        ASSERT_TRUE(waitFor([&] { return statusOf(p) == "Data receiving is completed"; }, 5s));
        EXPECT_EQ(hoursOf(p, Qt::green), range(0, group == 2 ? 19 : 23));
        click(p->hourCell(group == 2 ? 19 : 23));
        EXPECT_EQ(p->minuteCell(25, 2)->color(), QColor(Qt::yellow));

        // A day without recordings, then a failed one, show no hours.
        click(dayButtonOf(p, other.day()));
        ASSERT_TRUE(waitFor([&] { return statusOf(p) == "Data receiving is completed"; }, 5s));
        EXPECT_EQ(hoursOf(p, Qt::white), range(0, 23));
        click(dayButtonOf(p, today.day()));
        ASSERT_TRUE(waitFor([&] { return p->hourCell(0)->color() == QColor(Qt::green); }, 5s));
        rec->updateConfig([](testrec::RecorderConfig& c) { c.searchInfoFail = true; });
        click(dayButtonOf(p, other.day()));
        ASSERT_TRUE(waitFor([&] { return statusOf(p) == "Data receiving is failed"; }, 5s));
        EXPECT_EQ(hoursOf(p, Qt::white), range(0, 23));
    });
}

INSTANTIATE_TEST_SUITE_P(Models, CalendarDayForms, ::testing::Values(200, 41, 110, 61, 21));

TEST_F(SearchWindows, CalendarMarksOnlyTheMonthItAskedFor)
{
    const QDate today = QDate::currentDate();
    const uint32_t now = wallTime(QDateTime::currentDateTime());
    testrec::RecorderConfig cfg;
    cfg.recordStart = now - 400 * 86400;
    cfg.recordEnd = now + 400 * 86400;
    cfg.answerMonths = false;
    connectTo(cfg);
    const uint32_t monthStart = civilToTime(today.year(), today.month(), 1);
    pressSearch("btnCalendarSearch", [&] {
        CalendarSearchController* p = ctrl->calendarSearchPanel();
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(waitFor([&] { return rec->commandCount(15) == 2; }, 5s));
        // The user steps on before the month's answer arrives.
        click(p->findChild<QPushButton*>("btnNextMonth"));
        rec->sendCommand(18, testrec::monthAnswer(monthStart, cfg.recordStart, cfg.recordEnd));
        ASSERT_TRUE(waitFor([&] { return statusOf(p) == "Data receiving is completed"; }, 5s));
        EXPECT_EQ(p->recDay(), 0u);
        EXPECT_TRUE(dayButtonOf(p, 1)->icon().isNull());
    });
    EXPECT_EQ(payloads(15), (std::vector<Bytes>{searchInfo(3, 0), searchInfo(2, monthStart)}));
}

TEST_F(SearchWindows, EventLogMaskOfAnEightChannelRecorder)
{
    testrec::RecorderConfig cfg;
    cfg.channels = 8;
    connectTo(cfg);
    pressSearch("btnEventSearch", [&] {
        HistorySearchController* p = ctrl->historySearchPanel();
        ASSERT_NE(p, nullptr);
        auto box = [&](int n) {
            return p->findChild<QCheckBox*>(n == 1 ? QString("checkCh1") : QString("checkCH%1").arg(n));
        };
        for (int n = 1; n <= 16; ++n)
            EXPECT_EQ(box(n)->isHidden(), n > 8) << n;
        EXPECT_FALSE(box(1)->isEnabled());
        click(p->findChild<QCheckBox*>("checkWholeCh"));
        EXPECT_TRUE(box(8)->isEnabled());
        click(box(2));
        click(box(7));
        p->findChild<QDateEdit*>("datePickerTimeSel")->setDate(QDate(2024, 1, 15));
        click(p->findChild<QPushButton*>("btnHistory"));
        ASSERT_TRUE(waitFor([&] { return p->findChild<QPushButton*>("btnHistory")->isEnabled(); }, 5s));
    });
    EXPECT_EQ(payloads(32), std::vector<Bytes>{guitest::historyRecord(kDay, 0x00BD, 0xFFFF)});
}

TEST_F(SearchWindows, EventLogPagesThenPlayback)
{
    testrec::RecorderConfig cfg;
    cfg.protocolVersion = 6;
    cfg.historyPageItems = {3, 2};
    connectTo(cfg);
    pressSearch("btnEventSearch", [&] {
        HistorySearchController* p = ctrl->historySearchPanel();
        ASSERT_NE(p, nullptr);
        p->findChild<QDateEdit*>("datePickerTimeSel")->setDate(QDate(2024, 1, 15));
        click(p->findChild<QPushButton*>("btnHistory"));
        ASSERT_TRUE(waitFor([&] { return p->findChild<QPushButton*>("btnHistory")->isEnabled(); }, 5s));
        EXPECT_EQ(p->findChild<QLabel*>("labelHistoryCount")->text(), "Count : 5");
        auto* table = p->findChild<QTableView*>("tableEventView");
        clickRow(table, 4);
        EXPECT_EQ(p->findChild<QDateTimeEdit*>("datePickerSearch")->dateTime(), pickerTime(kDay + 5 * 600));
        click(p->findChild<QPushButton*>("btnPlay"));
    });
    EXPECT_EQ(payloads(32), std::vector<Bytes>{guitest::historyRecord(kDay, 0xFFFF, 0xFFFF)});
    EXPECT_EQ(seekTime(), kDay + 5 * 600);
    // A page after the window closed finds no panel.
    rec->sendCommand(33, testrec::historyPage(7, 61, 6, testrec::HistoryStatus::End, kDay, 0, 3));
    QTest::qWait(200);
    EXPECT_EQ(ctrl->historySearchPanel(), nullptr);
}

TEST_F(SearchWindows, EventLogRequestIsEightBytesUpToVersionFiveAndBusyIsShown)
{
    testrec::RecorderConfig cfg;
    cfg.protocolVersion = 5;
    cfg.modelId = 120;  // group 11
    cfg.historyMode = testrec::HistoryMode::Busy;
    connectTo(cfg);
    pressSearch("btnEventSearch", [&] {
        HistorySearchController* p = ctrl->historySearchPanel();
        ASSERT_NE(p, nullptr);
        p->findChild<QDateEdit*>("datePickerTimeSel")->setDate(QDate(2024, 1, 15));
        click(p->findChild<QPushButton*>("btnHistory"));
        auto* label = p->findChild<QLabel*>("labelHistoryCount");
        EXPECT_TRUE(waitFor([&] { return label->text() == "Get History fail.Please retry.."; }, 5s));
        click(p->findChild<QPushButton*>("btnCancel"));
    });
    const Bytes full = guitest::historyRecord(kDay, 0xFFFF, 0xFFFF);
    EXPECT_EQ(payloads(32), std::vector<Bytes>{Bytes(full.begin(), full.begin() + 8)});
    EXPECT_EQ(rec->commandCount(29), 0u);
}

}  // namespace
