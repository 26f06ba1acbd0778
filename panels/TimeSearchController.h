#pragma once
#include <QWidget>
#include <cstdint>
#include <memory>

class IPlaybackTarget;
struct tm_t;
namespace Ui {
class TimeSearch;
}

// The time search panel: asks the recorder for its recorded range, lets the
// user pick a moment inside it and ends the search window's run with that
// moment (recorder time base), or with 0 to cancel.
class TimeSearchController : public QWidget {
    Q_OBJECT

public:
    explicit TimeSearchController(QWidget* parent = nullptr);
    ~TimeSearchController() override;

    // Set before the panel is first shown; the range request goes out then.
    void setMainCtrlPointer(IPlaybackTarget* main) { m_mainControler = main; }
    void awakeFromNib();
    void RequestSearchInfo();
    // A search answer, on the GUI thread: type 5 carries the first and last
    // recorded second, type 3 a failure.
    void SetSearchInfo(int32_t type, int32_t v1, int32_t v2);

    void ChangeSliderValue();
    void btnDownPlay();
    void btnDownCancel();

    bool hasRange() const { return _bSuccessDataRecv; }
    int32_t startTime() const { return m_startTime; }
    int32_t endTime() const { return m_endTime; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void DisplaySearchInfodata_s(const QString& text);
    void DisplaySearchInfodata_e(const QString& text);
    void setRange(int32_t first, int32_t last);
    int32_t chosenTime() const;

    std::unique_ptr<Ui::TimeSearch> ui;
    IPlaybackTarget* m_mainControler = nullptr;
    bool m_awake = false;
    bool _bSuccessDataRecv = false;
    int32_t m_startTime = 0;
    int32_t m_endTime = 0;
    int32_t startTime_Mac = 0;
    int32_t endTime_Mac = 0;
    int32_t selectedTime = 0;
};
