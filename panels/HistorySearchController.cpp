#include "panels/HistorySearchController.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QDateTime>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <algorithm>

#include "link/CNetDef.h"
#include "link/NxLib.h"
#include "panels/IPlaybackTarget.h"
#include "panels/ModalSearchWindow.h"
#include "panels/SearchRecords.h"
#include "platform/Log.h"
#include "ui_HistorySearch.h"

// The table's data source: one column per row text, named by the row
// member that holds it.
class HistoryTableModel : public QAbstractTableModel {
public:
    explicit HistoryTableModel(const std::vector<HistoryInfo>& rows) : m_rows(rows) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || size_t(index.row()) >= m_rows.size())
            return {};
        const std::string* text = m_rows[size_t(index.row())].valueForKey(kColumns[index.column()].key);
        return text ? QString::fromStdString(*text) : QString();
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        if (role != Qt::DisplayRole || o != Qt::Horizontal || section < 0 || section > 2)
            return {};
        return QString::fromLatin1(kColumns[section].title);
    }
    void reload()
    {
        beginResetModel();
        endResetModel();
    }
    // Brackets appending count rows to the list.
    void beginAppend(size_t count) { beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + count) - 1); }
    void endAppend() { endInsertRows(); }

private:
    struct Column {
        const char* key;
        const char* title;
    };
    static constexpr Column kColumns[3] = {{"_strTime", "Time"}, {"_strEvent", "Event"}, {"_strInfo", "Detail"}};
    const std::vector<HistoryInfo>& m_rows;
};

HistorySearchController::HistorySearchController(QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::HistorySearch>()),
      m_model(std::make_unique<HistoryTableModel>(eventInfo))
{
    ui->setupUi(this);
    ui->tableEventView->setModel(m_model.get());
    ui->tableEventView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ui->tableEventView->verticalHeader()->hide();
    connect(ui->btnHistory, &QPushButton::clicked, this, &HistorySearchController::btnDownRequestHistory);
    // Toggled, not clicked: an assistive tool changes a box without a click.
    connect(ui->checkWholeEvent, &QCheckBox::toggled, this, &HistorySearchController::btnCheckWholeEvent);
    connect(ui->checkWholeCh, &QCheckBox::toggled, this, &HistorySearchController::btnCheckWholeCh);
    connect(ui->btnPlay, &QPushButton::clicked, this, &HistorySearchController::btnDownPlay);
    connect(ui->btnCancel, &QPushButton::clicked, this, &HistorySearchController::btnDownCancel);
    connect(ui->tableEventView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &HistorySearchController::tableViewSelectionDidChange);
}

HistorySearchController::~HistorySearchController()
{
    vlog("history dealloc");
    ui->tableEventView->setModel(nullptr);
    eventInfo.clear();
    vlog("history dealloc done");
}

void HistorySearchController::SetCh(int8_t ch)
{
    vlog("set ch");
    _maxCh = ch;
}

void HistorySearchController::SetModel(int32_t group, int32_t model)
{
    modelGroup = group;
    modelNum = model;
}

void HistorySearchController::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    awakeFromNib();
}

QCheckBox* HistorySearchController::channelBox(int n) const
{
    QCheckBox* const boxes[16] = {ui->checkCh1,  ui->checkCH2,  ui->checkCH3,  ui->checkCH4,
                                  ui->checkCH5,  ui->checkCH6,  ui->checkCH7,  ui->checkCH8,
                                  ui->checkCH9,  ui->checkCH10, ui->checkCH11, ui->checkCH12,
                                  ui->checkCH13, ui->checkCH14, ui->checkCH15, ui->checkCH16};
    return n >= 1 && n <= 16 ? boxes[n - 1] : nullptr;
}

// The single event boxes this recorder offers.
std::vector<QCheckBox*> HistorySearchController::eventBoxes() const
{
    std::vector<QCheckBox*> boxes = {ui->checkVideo, ui->checkSystem, ui->checkMotion, ui->checkSensor};
    if (modelGroup == 8) {
        boxes.push_back(ui->checkUnattended);
        boxes.push_back(ui->checkMuseum);
    }
    return boxes;
}

// Runs once, when the panel is first shown.
void HistorySearchController::awakeFromNib()
{
    if (m_awake)
        return;
    m_awake = true;
    vlog("history search awakefromnib");
    const QDateTime now = QDateTime::currentDateTime();
    ui->datePickerTimeSel->setDate(now.date());
    ui->datePickerSearch->setDateTime(now);
    for (QCheckBox* b : {ui->checkVideo, ui->checkSystem, ui->checkMotion, ui->checkSensor, ui->checkUnattended,
                         ui->checkMuseum})
        b->setEnabled(false);
    if (modelGroup != 8) {
        ui->checkUnattended->hide();
        ui->checkMuseum->hide();
    }
    const int shown = shownChannels();
    for (int n = 1; n <= 16; ++n) {
        if (n <= shown)
            channelBox(n)->setEnabled(!ui->checkWholeCh->isChecked());
        else
            channelBox(n)->hide();
    }
    currenttableSelNum = 0;
    if (m_mainControler)
        m_mainControler->RequestSearchInfo(15, SEARCH_KIND_RANGE, 0);
}

void HistorySearchController::btnCheckWholeEvent()
{
    const bool whole = ui->checkWholeEvent->isChecked();
    for (QCheckBox* b : eventBoxes())
        b->setEnabled(!whole);
}

void HistorySearchController::btnCheckWholeCh()
{
    const bool whole = ui->checkWholeCh->isChecked();
    for (int n = 1; n <= shownChannels(); ++n)
        channelBox(n)->setEnabled(!whole);
}

// Channel boxes the recorder has; all 16 when its count is unknown (0) or
// more than the boxes.
int HistorySearchController::shownChannels() const
{
    return _maxCh >= 1 && _maxCh <= 16 ? _maxCh : 16;
}

// ---------------------------------------------------------------------------
// Request

uint16_t HistorySearchController::channelMask() const
{
    if (ui->checkWholeCh->isChecked())
        return 0xFFFF;
    uint16_t mask = 0;
    for (int n = 1; n <= shownChannels(); ++n)
        if (channelBox(n)->isChecked())
            mask |= uint16_t(1u << (n - 1));
    return mask;
}

uint16_t HistorySearchController::eventMask() const
{
    if (ui->checkWholeEvent->isChecked())
        return HISTORY_EVENT_ALL;
    uint16_t mask = 0;
    const struct {
        QCheckBox* box;
        uint16_t bit;
    } kinds[] = {{ui->checkMotion, HISTORY_EVENT_MOTION},
                 {ui->checkSensor, HISTORY_EVENT_SENSOR},
                 {ui->checkVideo, HISTORY_EVENT_VIDEO},
                 {ui->checkSystem, HISTORY_EVENT_SYSTEM},
                 {ui->checkUnattended, HISTORY_EVENT_UNATTENDED},
                 {ui->checkMuseum, HISTORY_EVENT_MUSEUM}};
    for (const auto& k : kinds) {
        const bool offered = modelGroup == 8 || (k.box != ui->checkUnattended && k.box != ui->checkMuseum);
        if (offered && k.box->isChecked())
            mask |= k.bit;
    }
    return mask;
}

void HistorySearchController::btnDownRequestHistory()
{
    RequestSearchInfo();
}

void HistorySearchController::RequestSearchInfo()
{
    tagHistoryReq req;
    req.chMask = channelMask();
    req.eventMask = eventMask();
    if (req.eventMask == 0)
        return;
    const QDate d = ui->datePickerTimeSel->date();
    req.startTime = mktime2(uint32_t(d.year()), uint32_t(d.month()), uint32_t(d.day()), 0, 0, 0);
    uint8_t record[kHistoryReqSize];
    PackHistoryReq(req, record);
    if (m_mainControler)
        m_mainControler->RequestHistory(record, sizeof record);
    TimerControl(true);
    ui->btnHistory->setEnabled(false);
    eventInfo.clear();
    m_listCut = false;
    reloadTable();
}

// Waiting for an answer; nothing counts the wait down.
void HistorySearchController::TimerControl(bool on)
{
    if (!on)
        return;
    _Waittime = 50;
    ui->labelHistoryCount->setText("Waiting data..");
}

// ---------------------------------------------------------------------------
// Result pages

void HistorySearchController::SetSearchInfo(int32_t type, int32_t, int32_t, const uint8_t* data, size_t len)
{
    if (type != SEARCH_INFO_HISTORY)
        return;
    uint32_t status = 0;
    int32_t count = 0;
    if (!ReadHistoryHeader(data, len, &status, &count))
        return;
    // The list was cut: the rest of that search is not wanted.
    if (m_listCut)
        return;
    switch (status) {
    case HISTORY_EMPTY:
        vlog("HISTORY EMPTY");
        ui->labelHistoryCount->setText("No Data");
        break;
    case HISTORY_END:
        vlog("HISTORY END");
        [[fallthrough]];
    case HISTORY_NORMAL:
        vlog("HISTORY NORMAL");
        insertPage(status, count, data, len);
        DisplayHistoryCount(int(eventInfo.size()));
        break;
    case HISTORY_BUSY:
        vlog("HISTORY BUSY");
        ui->labelHistoryCount->setText("Get History fail.Please retry..");
        break;
    default:
        break;
    }
    if (status != HISTORY_NORMAL)
        ui->btnHistory->setEnabled(true);
}

// Appends the page's rows while the list has room. A full list ends the
// search: the link takes no more pages and a new search may start.
void HistorySearchController::insertPage(uint32_t status, int32_t count, const uint8_t* data, size_t len)
{
    const size_t room = kMaxHistoryRows - eventInfo.size();
    bool cut;
    if (room == 0)
        cut = count > 0;
    else if (IsHdhlGroup(modelGroup))
        cut = prcInsertList_HDHL(data, len, room);
    else
        cut = prcInsertList_H(data, len, room);
    if (status == HISTORY_NORMAL && eventInfo.size() >= kMaxHistoryRows)
        cut = true;
    if (!cut)
        return;
    m_listCut = true;
    if (m_mainControler)
        m_mainControler->EndHistory();
    ui->btnHistory->setEnabled(true);
}

// One item past the room is read only to learn that the page was cut.
bool HistorySearchController::prcInsertList_H(const uint8_t* data, size_t len, size_t room)
{
    return appendRows(ReadHistoryItems_H(data, len, room + 1), room);
}

bool HistorySearchController::prcInsertList_HDHL(const uint8_t* data, size_t len, size_t room)
{
    return appendRows(ReadHistoryItems_HDHL(data, len, room + 1), room);
}

// Appends at most room rows; true when some were left out.
bool HistorySearchController::appendRows(std::vector<HistoryInfo> rows, size_t room)
{
    const bool cut = rows.size() > room;
    const size_t n = std::min(rows.size(), room);
    if (n == 0)
        return cut;
    m_model->beginAppend(n);
    eventInfo.insert(eventInfo.end(), std::make_move_iterator(rows.begin()),
                     std::make_move_iterator(rows.begin() + long(n)));
    m_model->endAppend();
    return cut;
}

void HistorySearchController::DisplayHistoryCount(int count)
{
    ui->labelHistoryCount->setText(m_listCut ? QString::asprintf("Count : %d (more not shown)", count)
                                             : QString::asprintf("Count : %d", count));
}

void HistorySearchController::reloadTable()
{
    m_model->reload();
}

// ---------------------------------------------------------------------------
// Choosing and playing

void HistorySearchController::tableViewSelectionDidChange()
{
    vlog("didchange");
    const QModelIndexList selected = ui->tableEventView->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    const size_t row = size_t(selected.first().row());
    if (row >= eventInfo.size())
        return;
    ui->datePickerSearch->setDateTime(ModalSearchWindow::pickerTime(uint32_t(eventInfo[row].GetTime())));
}

void HistorySearchController::btnDownPlay()
{
    ModalSearchWindow::endModalAt(this, ui->datePickerSearch->dateTime());
}

void HistorySearchController::btnDownCancel()
{
    ModalSearchWindow::endModal(this, 0);
}
