#pragma once
#include <QDateTime>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

#include "panels/SearchRecords.h"

class IPlaybackTarget;
class MyColorWell;
class QFrame;
class QLabel;
class QPushButton;
namespace Ui {
class CalenderSearch;
}

// The calendar search panel: a month grid with the recorded days marked,
// the hours of the chosen day and the minutes of the chosen hour for each
// channel. Play ends the search window's run with the chosen moment
// (recorder time base), Cancel with 0.
class CalendarSearchController : public QWidget {
    Q_OBJECT

public:
    explicit CalendarSearchController(QWidget* parent = nullptr);
    ~CalendarSearchController() override;

    void setMainCtrlPointer(IPlaybackTarget* main) { m_mainControler = main; }
    // Model group (chooses the day map's form), then site model.
    void SetModel(int32_t group, int32_t model);
    void awakeFromNib();
    // A search answer on the GUI thread; data/len carry the day record.
    void SetSearchInfo(int32_t type, int32_t v1, int32_t v2, const uint8_t* data = nullptr, size_t len = 0);

    // Actions.
    void btnDownCalendar(QPushButton* sender);
    void mouseDownMinute(MyColorWell* sender);
    void btnDownLastMonth();
    void btnDownNextMonth();
    void btnDownToday();
    void dateValueChange();
    void btnDownPlay();
    void btnDownCancel();

    void drawCalendar(const QDate& date);
    void drawHourData_H();
    void drawHourData_HDHL();
    void drawMinuteData_H();
    void drawMinuteData_HDHL();

    // Controls and state, for the window tests.
    QPushButton* dayButton(int column, int row) const { return btnCalendar[size_t(column)][size_t(row)]; }
    MyColorWell* hourCell(int h) const { return colorwell_hour[size_t(h)]; }
    MyColorWell* minuteCell(int m, int ch) const { return colorwell[size_t(m)][size_t(ch)]; }
    QFrame* dayMarker() const { return dayBox; }
    QFrame* hourMarker() const { return hourBox; }
    QFrame* minuteMarker() const { return minuteLine; }
    uint32_t recDay() const { return _recDay; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void makeControls();
    void RequestSearchInfo();
    void RequestMonth();
    void RequestDay();
    void DisplaySearchStatus(const QString& text);
    void DisplaySearchInfodata_s(const QString& text);
    void DisplaySearchInfodata_e(const QString& text);
    void receiveDay(int32_t slot, const uint8_t* data, size_t len);
    void drawHourData();
    void drawMinuteData();

    void setFields(const QDateTime& d);
    QDateTime fieldsDate() const;
    void setCurrentDate(const QDateTime& d);
    void showInPickers(const QDateTime& d);
    bool monthInRange(int y, int m) const;
    // Form of the shown day's record.
    bool dayHdhl() const { return m_dayHdhl[size_t(day - 1)]; }

    std::unique_ptr<Ui::CalenderSearch> ui;
    std::array<std::array<MyColorWell*, 16>, 60> colorwell{};
    std::array<MyColorWell*, 24> colorwell_hour{};
    QFrame* minuteLine = nullptr;
    QFrame* hourBox = nullptr;
    QFrame* dayBox = nullptr;
    IPlaybackTarget* m_mainControler = nullptr;
    std::array<std::array<QPushButton*, 6>, 7> btnCalendar{};
    std::array<std::array<int, 6>, 7> m_dayTag{};
    std::array<QLabel*, 16> labelCh{};
    std::array<QLabel*, 24> labelHour{};
    std::array<QLabel*, 12> labelMin{};
    uint32_t _recDay = 0;
    QDateTime currentDateCalendar;
    int32_t year = 1970;
    int8_t month = 1;
    int8_t day = 1;
    int8_t hour = 0;
    int8_t minute = 0;
    int32_t modelNum = 0;
    int32_t modelGroup = 0;
    // The last day record received for each day of the month, in the form
    // it came in.
    std::unique_ptr<std::array<tagSearchDay_HDHL, 31>> _searchDays;
    std::unique_ptr<std::array<tagSearchDay_H, 31>> _searchDays_h;
    std::array<bool, 31> m_dayHdhl{};
    // Month of the outstanding month request (monthIndex), -1 none.
    int m_monthAsked = -1;
    bool m_awake = false;
};
