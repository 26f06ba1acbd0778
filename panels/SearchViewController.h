#pragma once
#include <QWidget>
#include <cstdint>
#include <memory>

class IPlaybackTarget;
namespace Ui {
class SearchView;
}

// The playback control panel: search buttons, the fast reverse and fast
// forward ladders, pause, play, reverse and slow play, frame steps and Live.
// Each press is one call on the target.
class SearchViewController : public QWidget {
    Q_OBJECT

public:
    explicit SearchViewController(QWidget* parent = nullptr);
    ~SearchViewController() override;

    void setMainCtrlPointer(IPlaybackTarget* main) { m_mainControler = main; }
    // Last speed a ladder or a plain speed button chose; 1 at creation.
    int32_t currentPlayback() const { return m_currentPlayback; }

    void btnDownTimesearch();
    void btnDownEventsearch();
    void btnDownCalendarsearch();
    void btnDownLive();
    void btnDownREW();
    void btnDownFF();
    void btnDownRP();
    void btnDownPause();
    void btnDownPlay();
    void btnDownSlowP();
    void btnDownNextF();
    void btnDownPreF();

private:
    void connectButtons();
    void setSpeed(int32_t speed);
    void sendSpeed(int32_t speed);

    std::unique_ptr<Ui::SearchView> ui;
    IPlaybackTarget* m_mainControler = nullptr;
    int32_t m_currentPlayback = 1;
};
