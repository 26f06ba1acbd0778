#pragma once
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "panels/HistoryInfo.h"

class IPlaybackTarget;
class QCheckBox;
class HistoryTableModel;
namespace Ui {
class HistorySearch;
}

// The event-log search panel: asks the recorder for one day's event log,
// filtered by channels and event kinds, lists the entries page by page, and
// ends the search window's run with the chosen moment (recorder time base),
// or with 0 to cancel.
class HistorySearchController : public QWidget {
    Q_OBJECT

public:
    explicit HistorySearchController(QWidget* parent = nullptr);
    ~HistorySearchController() override;

    // Set before the panel is first shown: its load-time set-up uses them.
    void SetCh(int8_t ch);
    void setMainCtrlPointer(IPlaybackTarget* main) { m_mainControler = main; }
    void SetModel(int32_t group, int32_t model);
    void awakeFromNib();
    // A search answer on the GUI thread; type 100 carries one result page.
    void SetSearchInfo(int32_t type, int32_t v1, int32_t v2, const uint8_t* data = nullptr, size_t len = 0);

    // Actions.
    void btnDownRequestHistory();
    void btnCheckWholeEvent();
    void btnCheckWholeCh();
    void btnDownPlay();
    void btnDownCancel();
    void tableViewSelectionDidChange();

    // Rows the list holds at most; a search that finds more is cut there.
    static constexpr size_t kMaxHistoryRows = 20000;

    int numberOfRowsInTableView() const { return int(eventInfo.size()); }
    const std::vector<HistoryInfo>& rows() const { return eventInfo; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void RequestSearchInfo();
    void TimerControl(bool on);
    void insertPage(uint32_t status, int32_t count, const uint8_t* data, size_t len);
    bool prcInsertList_H(const uint8_t* data, size_t len, size_t room);
    bool prcInsertList_HDHL(const uint8_t* data, size_t len, size_t room);
    bool appendRows(std::vector<HistoryInfo> rows, size_t room);
    void DisplayHistoryCount(int count);
    void reloadTable();
    QCheckBox* channelBox(int n) const;
    int shownChannels() const;
    std::vector<QCheckBox*> eventBoxes() const;
    uint16_t channelMask() const;
    uint16_t eventMask() const;

    std::unique_ptr<Ui::HistorySearch> ui;
    IPlaybackTarget* m_mainControler = nullptr;
    std::vector<HistoryInfo> eventInfo;
    std::unique_ptr<HistoryTableModel> m_model;
    int8_t _maxCh = 0;
    int8_t _Waittime = 0;
    int32_t currenttableSelNum = 0;
    int32_t modelNum = 0;
    int32_t modelGroup = 0;
    bool m_awake = false;
    bool m_listCut = false;  // the list is full and its search was ended
};
