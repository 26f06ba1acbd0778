#include "link/NxLib.h"
#include "panels/TimeSearchController.h"

#include <QDateTime>

#include "link/CNetDef.h"
#include "panels/IPlaybackTarget.h"
#include "panels/ModalSearchWindow.h"
#include "panels/SearchRecords.h"
#include "platform/Log.h"
#include "ui_TimeSearch.h"

TimeSearchController::TimeSearchController(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TimeSearch>())
{
    ui->setupUi(this);
    connect(ui->sliderTime, &QSlider::valueChanged, this, &TimeSearchController::ChangeSliderValue);
    connect(ui->btnPlay, &QPushButton::clicked, this, &TimeSearchController::btnDownPlay);
    connect(ui->btnCancel, &QPushButton::clicked, this, &TimeSearchController::btnDownCancel);
}

TimeSearchController::~TimeSearchController()
{
    vlog("time search dealloc");
}

void TimeSearchController::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    awakeFromNib();
}

// Runs once, when the panel is first shown.
void TimeSearchController::awakeFromNib()
{
    if (m_awake)
        return;
    m_awake = true;
    vlog("time search awakefromnib");
    RequestSearchInfo();
    ui->datePicker->setDateTime(QDateTime::currentDateTime());
}

void TimeSearchController::RequestSearchInfo()
{
    _bSuccessDataRecv = false;
    m_startTime = m_endTime = 0;
    startTime_Mac = endTime_Mac = 0;
    if (m_mainControler)
        m_mainControler->RequestSearchInfo(15, SEARCH_KIND_RANGE, 0);
}

void TimeSearchController::SetSearchInfo(int32_t type, int32_t v1, int32_t v2)
{
    if (type == SEARCH_INFO_FAIL) {
        vlog("search info fail");
    } else if (type == SEARCH_INFO_RANGE) {
        vlog("search info ok %d %d", v1, v2);
        setRange(v1, v2);
    }
}

void TimeSearchController::setRange(int32_t first, int32_t last)
{
    m_startTime = first;
    m_endTime = last;
    startTime_Mac = int32_t(ModalSearchWindow::pickerTime(uint32_t(first)).toSecsSinceEpoch());
    endTime_Mac = int32_t(ModalSearchWindow::pickerTime(uint32_t(last)).toSecsSinceEpoch());
    DisplaySearchInfodata_s(QString::fromStdString(timeText(uint32_t(first))));
    DisplaySearchInfodata_e(QString::fromStdString(timeText(uint32_t(last))));
    _bSuccessDataRecv = true;
}

void TimeSearchController::DisplaySearchInfodata_s(const QString& text)
{
    ui->labelStartTime->setText(text);
}

void TimeSearchController::DisplaySearchInfodata_e(const QString& text)
{
    ui->labelEndTime->setText(text);
}

void TimeSearchController::ChangeSliderValue()
{
    if (!_bSuccessDataRecv)
        return;
    const QSlider* s = ui->sliderTime;
    double v = s->maximum() > s->minimum()
                   ? double(s->value() - s->minimum()) / double(s->maximum() - s->minimum())
                   : 0.0;
    int32_t span = endTime_Mac - startTime_Mac;
    selectedTime = int32_t(startTime_Mac + span * v);
    ui->datePicker->setDateTime(QDateTime::fromSecsSinceEpoch(selectedTime));
}

// The picker's fields in the recorder's time base, kept inside the range:
// before it gives its start, after it five seconds before its end.
int32_t TimeSearchController::chosenTime() const
{
    int32_t t = int32_t(ModalSearchWindow::recorderTime(ui->datePicker->dateTime()));
    if (t < m_startTime)
        t = m_startTime;
    if (t > m_endTime)
        t = m_endTime - 5;
    return t;
}

// Without a recorded range there is nothing to play: the run ends as a cancel.
void TimeSearchController::btnDownPlay()
{
    ModalSearchWindow::endModal(this, _bSuccessDataRecv ? chosenTime() : 0);
}

void TimeSearchController::btnDownCancel()
{
    ModalSearchWindow::endModal(this, 0);
}
