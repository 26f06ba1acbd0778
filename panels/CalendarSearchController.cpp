#include "panels/CalendarSearchController.h"

#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

#include "link/CNetDef.h"
#include "link/NxLib.h"
#include "panels/IPlaybackTarget.h"
#include "panels/ModalSearchWindow.h"
#include "panels/MyColorWell.h"
#include "platform/Log.h"
#include "ui_CalenderSearch.h"

// Resources of a static library are registered by hand.
static void initSearchResources()
{
    Q_INIT_RESOURCE(search);
}

namespace {

constexpr int kViewHeight = 600;

// Frames are laid out from the view's bottom-left corner.
QRect frame(int x, int y, int w, int h)
{
    return QRect(x, kViewHeight - y - h, w, h);
}

QColor qColour(CellColour c)
{
    switch (c) {
    case CellColour::Green: return Qt::green;
    case CellColour::Blue: return Qt::blue;
    case CellColour::Red: return Qt::red;
    case CellColour::Yellow: return Qt::yellow;
    default: return Qt::white;
    }
}

QFrame* makeBox(QWidget* parent, const QRect& r, int border, bool filled)
{
    auto* box = new QFrame(parent);
    box->setGeometry(r);
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    box->setStyleSheet(filled ? QStringLiteral("background-color: red; border: 1px solid red;")
                              : QStringLiteral("background: transparent; border: %1px solid red;").arg(border));
    return box;
}

QString rangeLabel(const char* caption, uint32_t t)
{
    return QString::asprintf("%s : %s", caption, timeText(t).c_str());
}

}  // namespace

CalendarSearchController::CalendarSearchController(QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::CalenderSearch>()),
      _searchDays(std::make_unique<std::array<tagSearchDay_HDHL, 31>>()),
      _searchDays_h(std::make_unique<std::array<tagSearchDay_H, 31>>())
{
    initSearchResources();
    ui->setupUi(this);
    makeControls();
    connect(ui->btnLastMonth, &QPushButton::clicked, this, &CalendarSearchController::btnDownLastMonth);
    connect(ui->btnNextMonth, &QPushButton::clicked, this, &CalendarSearchController::btnDownNextMonth);
    connect(ui->btnToday, &QPushButton::clicked, this, &CalendarSearchController::btnDownToday);
    connect(ui->btnPlay, &QPushButton::clicked, this, &CalendarSearchController::btnDownPlay);
    connect(ui->btnCancel, &QPushButton::clicked, this, &CalendarSearchController::btnDownCancel);
    // Only the user's edits: the panel's own settings block the signal.
    connect(ui->datePickerCalendar, &QDateEdit::dateChanged, this, &CalendarSearchController::dateValueChange);
}

CalendarSearchController::~CalendarSearchController() = default;

void CalendarSearchController::SetModel(int32_t group, int32_t model)
{
    modelGroup = group;
    modelNum = model;
}

void CalendarSearchController::makeControls()
{
    auto action = [this](MyColorWell* cell) { mouseDownMinute(cell); };
    auto makeCell = [&](const QRect& r, int tag, const QString& name) {
        auto* cell = new MyColorWell(this);
        cell->setGeometry(r);
        cell->setTag(tag);
        cell->setTarget(this);
        cell->setAction(action);
        cell->setAccessibleName(name);
        return cell;
    };
    auto makeLabel = [this](const QRect& r, const QString& text) {
        auto* label = new QLabel(text, this);
        label->setGeometry(r);
        return label;
    };
    for (int h = 0; h < 24; ++h) {
        colorwell_hour[size_t(h)] = makeCell(frame(320 + 27 * h, 520, 27, 23), 100 + h, QString("Hour %1").arg(h));
        labelHour[size_t(h)] = makeLabel(frame(327 + 27 * h, 540, 27, 20), QString::number(h));
    }
    for (int c = 0; c < 7; ++c) {
        for (int r = 0; r < 6; ++r) {
            auto* b = new QPushButton(this);
            b->setGeometry(frame(17 + 34 * c, 462 - 29 * r, 35, 30));
            b->setIconSize(QSize(14, 14));
            b->setText(QString::number(7 * r + c));
            connect(b, &QPushButton::clicked, this, [this, b] { btnDownCalendar(b); });
            btnCalendar[size_t(c)][size_t(r)] = b;
            m_dayTag[size_t(c)][size_t(r)] = 7 * r + c;
        }
    }
    for (int m = 0; m < 60; ++m)
        for (int ch = 0; ch < 16; ++ch)
            colorwell[size_t(m)][size_t(ch)] =
                makeCell(frame(320 + 11 * m, 438 - 23 * ch, 11, 23), m,
                         QString("Minute %1 Channel %2").arg(m).arg(ch + 1));
    for (int k = 0; k < 12; ++k)
        labelMin[size_t(k)] = makeLabel(frame(320 + 55 * k, 455, 20, 23), QString::number(5 * k));
    for (int ch = 0; ch < 16; ++ch)
        labelCh[size_t(ch)] = makeLabel(frame(280, 431 - 23 * ch, 40, 27), QString::asprintf("CH%02d", ch + 1));
    minuteLine = makeBox(this, frame(600, 70, 3, 368), 1, true);
    minuteLine->hide();
    hourBox = makeBox(this, frame(300, 570, 27, 23), 3, false);
    hourBox->hide();
    dayBox = makeBox(this, frame(100, 470, 35, 30), 3, false);
}

void CalendarSearchController::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    awakeFromNib();
}

// Runs once, when the panel is first shown.
void CalendarSearchController::awakeFromNib()
{
    if (m_awake)
        return;
    m_awake = true;
    const QDateTime now = QDateTime::currentDateTime();
    currentDateCalendar = now;
    setFields(now);
    showInPickers(now);
    drawCalendar(now.date());
    RequestSearchInfo();
}

// ---------------------------------------------------------------------------
// Fields and pickers

void CalendarSearchController::setFields(const QDateTime& d)
{
    year = d.date().year();
    month = int8_t(d.date().month());
    day = int8_t(d.date().day());
    hour = int8_t(d.time().hour());
    minute = int8_t(d.time().minute());
}

QDateTime CalendarSearchController::fieldsDate() const
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, 0), Qt::LocalTime);
}

void CalendarSearchController::setCurrentDate(const QDateTime& d)
{
    currentDateCalendar = d;
    showInPickers(d);
}

void CalendarSearchController::showInPickers(const QDateTime& d)
{
    const QSignalBlocker blockCalendar(ui->datePickerCalendar);
    const QSignalBlocker blockSearch(ui->datePickerSearch);
    ui->datePickerCalendar->setDate(d.date());
    ui->datePickerSearch->setDateTime(d);
}

// ---------------------------------------------------------------------------
// Requests and answers

void CalendarSearchController::RequestSearchInfo()
{
    DisplaySearchStatus("Requesting Data search");
    if (m_mainControler)
        m_mainControler->RequestSearchInfo(15, SEARCH_KIND_RANGE, 0);
}

// Months are counted from year 0 so that two of them compare as numbers.
static int monthIndex(int year, int month)
{
    return 12 * year + month - 1;
}

// The pickers' range: the recorder's time base holds nothing outside it.
bool CalendarSearchController::monthInRange(int y, int m) const
{
    const QDate first = ui->datePickerCalendar->minimumDate(), last = ui->datePickerCalendar->maximumDate();
    const int i = monthIndex(y, m);
    return i >= monthIndex(first.year(), first.month()) && i <= monthIndex(last.year(), last.month());
}

void CalendarSearchController::RequestMonth()
{
    if (!monthInRange(year, month))
        return;
    DisplaySearchStatus("Requesting Data search");
    m_monthAsked = monthIndex(year, month);
    if (m_mainControler)
        m_mainControler->RequestSearchInfo(15, SEARCH_KIND_MONTH,
                                           int32_t(mktime2(uint32_t(year), uint32_t(month), 1, 0, 0, 0)));
}

void CalendarSearchController::RequestDay()
{
    const QDate d(year, month, day);
    if (d < ui->datePickerCalendar->minimumDate() || d > ui->datePickerCalendar->maximumDate())
        return;
    DisplaySearchStatus("Requesting Data search");
    if (m_mainControler)
        m_mainControler->RequestSearchInfo(15, SEARCH_KIND_DAY,
                                           int32_t(mktime2(uint32_t(year), uint32_t(month), uint32_t(day), 0, 0, 0)));
}

void CalendarSearchController::DisplaySearchStatus(const QString& text)
{
    ui->labelDataStatus->setText(text);
}

void CalendarSearchController::DisplaySearchInfodata_s(const QString& text)
{
    ui->labelStartTime->setText(text);
}

void CalendarSearchController::DisplaySearchInfodata_e(const QString& text)
{
    ui->labelEndTime->setText(text);
}

void CalendarSearchController::SetSearchInfo(int32_t type, int32_t v1, int32_t v2, const uint8_t* data, size_t len)
{
    vlog("type %d v1 %d v2 %d", type, v1, v2);
    switch (type) {
    case SEARCH_INFO_RANGE:
        vlog("search info ok %d %d", v1, v2);
        DisplaySearchInfodata_s(rangeLabel("Start time", uint32_t(v1)));
        DisplaySearchInfodata_e(rangeLabel("End time ", uint32_t(v2)));
        RequestMonth();
        break;
    case SEARCH_INFO_MONTH:
        vlog("search info month ok %d %d", v1, v2);
        // The marks belong to the month asked for, not to one stepped to since.
        if (m_monthAsked == monthIndex(year, month)) {
            _recDay = uint32_t(v1);
            currentDateCalendar = fieldsDate();
            drawCalendar(currentDateCalendar.date());
        }
        m_monthAsked = -1;
        DisplaySearchStatus("Data receiving is completed");
        break;
    case SEARCH_INFO_DAY:
        vlog("search info days ok %d %d %d", v1, int(len), day);
        receiveDay(v1, data, len);
        break;
    case SEARCH_INFO_FAIL:
        vlog("search info fail");
        DisplaySearchStatus("Data receiving is failed");
        break;
    default:
        break;
    }
}

// Stores the day record in its slot, read only as far as it arrived.
void CalendarSearchController::receiveDay(int32_t slot, const uint8_t* data, size_t len)
{
    if (slot < 0 || slot > 30) {
        DisplaySearchStatus("Data receiving is failed");
        return;
    }
    m_dayHdhl[size_t(slot)] = IsHdhlDayRecord(len, modelGroup);
    if (m_dayHdhl[size_t(slot)])
        ReadSearchDay(data, len, &(*_searchDays)[size_t(slot)]);
    else
        ReadSearchDay(data, len, &(*_searchDays_h)[size_t(slot)]);
    DisplaySearchStatus("Data receiving is completed");
    const uint16_t rch = dayHdhl() ? (*_searchDays)[size_t(day - 1)].rch : (*_searchDays_h)[size_t(day - 1)].rch;
    if (rch != 0)
        drawHourData();
}

// ---------------------------------------------------------------------------
// Drawing

void CalendarSearchController::drawCalendar(const QDate& date)
{
    const CalendarMonth grid = LayoutMonth(date.year(), date.month());
    const QIcon recorded(QStringLiteral(":/cal.png"));
    for (int c = 0; c < 7; ++c) {
        for (int r = 0; r < 6; ++r) {
            QPushButton* b = btnCalendar[size_t(c)][size_t(r)];
            const int d = grid.cell[7 * r + c];
            m_dayTag[size_t(c)][size_t(r)] = d;
            b->setEnabled(d != 0);
            b->setIcon(d != 0 && (_recDay >> (d - 1) & 1) ? recorded : QIcon());
            b->setText(d != 0 ? QString::number(d) : QString());
            b->setAccessibleName(b->text());
            if (d != 0 && d == date.day())
                dayBox->move(b->pos());
        }
    }
    dayBox->raise();
}

void CalendarSearchController::drawHourData()
{
    if (dayHdhl())
        drawHourData_HDHL();
    else
        drawHourData_H();
}

void CalendarSearchController::drawMinuteData()
{
    if (dayHdhl())
        drawMinuteData_HDHL();
    else
        drawMinuteData_H();
}

template <typename Day>
static void paintHours(const Day& d, const std::array<MyColorWell*, 24>& cells)
{
    for (size_t h = 0; h < 24; ++h)
        cells[h]->setColor(d.rhour[h].rch != 0 ? Qt::green : Qt::white);
}

template <typename Day>
static void paintMinutes(const Day& d, int hour, const std::array<std::array<MyColorWell*, 16>, 60>& cells)
{
    const auto& rmin = d.rhour[size_t(hour)].rmin;
    for (size_t ch = 0; ch < 16; ++ch)
        for (size_t m = 0; m < 60; ++m)
            cells[m][ch]->setColor(qColour(MinuteColour(rmin[m].rch, rmin[m].md, rmin[m].sensor, int(ch))));
}

void CalendarSearchController::drawHourData_H()
{
    paintHours((*_searchDays_h)[size_t(day - 1)], colorwell_hour);
}

void CalendarSearchController::drawHourData_HDHL()
{
    paintHours((*_searchDays)[size_t(day - 1)], colorwell_hour);
}

void CalendarSearchController::drawMinuteData_H()
{
    paintMinutes((*_searchDays_h)[size_t(day - 1)], hour, colorwell);
}

void CalendarSearchController::drawMinuteData_HDHL()
{
    paintMinutes((*_searchDays)[size_t(day - 1)], hour, colorwell);
}

// ---------------------------------------------------------------------------
// Actions

void CalendarSearchController::btnDownCalendar(QPushButton* sender)
{
    for (int c = 0; c < 7; ++c) {
        for (int r = 0; r < 6; ++r) {
            if (btnCalendar[size_t(c)][size_t(r)] != sender || m_dayTag[size_t(c)][size_t(r)] == 0)
                continue;
            dayBox->move(sender->pos());
            day = int8_t(m_dayTag[size_t(c)][size_t(r)]);
            setCurrentDate(fieldsDate());
            RequestDay();
            for (auto& column : colorwell)
                for (MyColorWell* cell : column)
                    cell->setColor(Qt::white);
            for (MyColorWell* cell : colorwell_hour)
                cell->setColor(Qt::white);
            hourBox->hide();
            minuteLine->hide();
            return;
        }
    }
}

void CalendarSearchController::mouseDownMinute(MyColorWell* sender)
{
    if (sender->tag() < 100) {
        minute = int8_t(sender->tag());
        minuteLine->show();
        minuteLine->move(sender->x(), frame(0, 93, 3, 368).y());
        minuteLine->raise();
    } else {
        hour = int8_t(sender->tag() - 100);
        hourBox->show();
        hourBox->move(sender->pos());
        hourBox->raise();
        drawMinuteData();
    }
    setCurrentDate(fieldsDate());
}

void CalendarSearchController::btnDownLastMonth()
{
    if (!monthInRange(month == 1 ? year - 1 : year, month == 1 ? 12 : month - 1))
        return;
    _recDay = 0;
    if (--month < 1) {
        month = 12;
        --year;
    }
    day = int8_t(std::min<int>(day, DaysInMonth(year, month)));
    setCurrentDate(fieldsDate());
    drawCalendar(currentDateCalendar.date());
}

void CalendarSearchController::btnDownNextMonth()
{
    if (!monthInRange(month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1))
        return;
    _recDay = 0;
    if (++month > 12) {
        month = 1;
        ++year;
    }
    day = int8_t(std::min<int>(day, DaysInMonth(year, month)));
    setCurrentDate(fieldsDate());
    drawCalendar(currentDateCalendar.date());
}

void CalendarSearchController::btnDownToday()
{
    _recDay = 0;
    const QDateTime now = QDateTime::currentDateTime();
    setFields(now);
    setCurrentDate(now);
    drawCalendar(now.date());
}

void CalendarSearchController::dateValueChange()
{
    _recDay = 0;
    const QDate d = ui->datePickerCalendar->date();
    setFields(QDateTime(d, QTime(hour, minute), Qt::LocalTime));
    currentDateCalendar = fieldsDate();
    drawCalendar(d);
    const QSignalBlocker block(ui->datePickerSearch);
    ui->datePickerSearch->setDateTime(currentDateCalendar);
}

void CalendarSearchController::btnDownPlay()
{
    ModalSearchWindow::endModalAt(this, ui->datePickerSearch->dateTime());
}

void CalendarSearchController::btnDownCancel()
{
    ModalSearchWindow::endModal(this, 0);
}
