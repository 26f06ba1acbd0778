#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

#include "app/IControlBarTarget.h"
#include "app/SiteBook.h"
#include "link/INetController.h"
#include "output/IViewController.h"
#include "panels/IAudioTarget.h"
#include "panels/IDisplayTarget.h"
#include "panels/IKeypadTarget.h"
#include "panels/IPTZTarget.h"
#include "panels/IPlaybackTarget.h"

class AudioOut2;
class CoNetwork;
class CNetwork;
class NxNet;
class INetView;
class MyOpenGLView;
class TitleBar;
class dvrList;
class IPSetViewController;
class VESKCtrlViewController;
class QWidget;
class SearchViewController;
class TimeSearchController;
class CalendarSearchController;
class HistorySearchController;
class ModalSearchWindow;
class VorelLumoCtrlViewController;
class VorelLumoCtrl2Controller;
class AudioSetViewController;
class DisplayViewController;
class PTZViewController;
class GuiMailbox;

// The application's central object: the site book, connect and disconnect,
// the echo watchdog, the status line and the requests the panels send.
// Everything runs on the GUI thread; what a link reports arrives through a
// reporter that copies it and posts it here.
class AppController : public QObject,
                      public IViewController,
                      public IControlBarTarget,
                      public IPlaybackTarget,
                      public IPTZTarget,
                      public IAudioTarget,
                      public IDisplayTarget,
                      public IKeypadTarget {
    Q_OBJECT

public:
    explicit AppController(TitleBar* window, QObject* parent = nullptr);
    ~AppController() override;

    void awakeFromNib();

    // Buttons and the watchdog.
    void OnButtonDvrConnect();
    void OnButtonDvrDisconnect();
    void OnButtonExit();
    void windowWillClose();
    void CheckEcho();
    void EndApplication();

    CoNetwork* NetSource() const { return m_link.get(); }
    NxNet* recorderLink() const;
    CNetwork* deviceLink() const override;
    // The second device's keypads, made when first shown.
    VorelLumoCtrlViewController* keypadPanel() const { return LumoCtrl; }
    VorelLumoCtrl2Controller* playbackKeysPanel() const { return LumoCtrl2; }
    QWidget* devicePanels() const { return m_devicePanels.get(); }
    SiteBook& siteBook() { return m_book; }
    std::shared_ptr<dvrList> _dvrInfo() const { return m_dvrInfo; }
    TitleBar* window() const { return m_window; }
    AudioOut2* audioOut() const { return m_waveout.get(); }
    const QString& capturePath() const { return m_book.capturePath(); }
    QString captureFolder() const override { return m_book.capturePath(); }
    QString chooseCaptureFolder(const QString& start) override { return chooseFolder ? chooseFolder(start) : QString(); }

    // Site book (GUI thread).
    void ReadInfo();
    void AddDVR(std::shared_ptr<dvrList> record);
    void UpdateDVR(const dvrList& record);
    void DeleteDVR();
    void SyncDVRINfo();
    int selectedRow() const;
    void SetModelGroup(uint32_t group);

    // Requests forwarded to a recorder link.
    void RequestPanTilt(int8_t ch, int32_t cmd, int8_t speed) override;
    void RequestPreset(int8_t ch, int32_t cmd, int8_t preset) override;
    void RequestLiveCh(int32_t ch) override;
    void RequestSearchInfo(int32_t cmd, int32_t a, int32_t b) override;
    void RequestHistory(const uint8_t* record, size_t len) override;
    void EndHistory() override;
    void RequestAudio(int8_t ch) override;
    bool PlaySpeed(int32_t speed) override;
    void ExitLive() override;
    void SetIFrameOnly(int8_t flag) override;
    void SetDrawOsd(int8_t code) override;

    // Status line and buttons.
    void DisplayConnectStr(const std::string& text, int code, const std::string& text2, int kind) override;
    void SetButtonStatus(int status) override;
    QString statusText() const;

    // Search answers and the busy alert, as they arrive on the GUI thread.
    void SetSearchInfo(int type, int32_t v1, int32_t v2, const std::vector<uint8_t>& data);
    void ShowSearchAlertView();

    // Control bar.
    void ShowDisplayView() override;
    void Capture() override;
    void OpenFolder() override;
    void ShowSearchView() override;
    void ShowPTZView() override;
    void ShowAudioView() override;
    // Search windows, run modally; playback starts at the time they return.
    void ShowTimeSearchView() override;
    void ShowEventSearchView() override;
    void ShowCalendarView() override;
    SearchViewController* playbackPanel() const;
    AudioSetViewController* audioPanel() const;
    DisplayViewController* displayPanel() const;
    PTZViewController* ptzPanel() const;
    TimeSearchController* timeSearchPanel() const;
    CalendarSearchController* calendarSearchPanel() const;
    HistorySearchController* historySearchPanel() const;
    ModalSearchWindow* searchWindow() const { return SearchWindow; }
    // Asks the user for a folder; empty when cancelled. Tests replace it.
    std::function<QString(const QString& start)> chooseFolder;
    VESKCtrlViewController* controlBar() const { return VESKCtrl.get(); }
    IPSetViewController* siteEditor() const { return IPSetCtrl.get(); }

    // Shows w in the sub-panel box.
    bool showPanel(QWidget* w);
    // The site editor's view, put into the sub-panel box by ShowIpsetView.
    void setSiteEditorView(QWidget* w) { m_siteEditorView = w; }
    void ShowIpsetView();
    // Called with the selected row's record when the selection changes.
    std::function<void(std::shared_ptr<dvrList>)> onSiteSelected;

    // Watchdog period (10 s); tests shorten it.
    void setWatchdogInterval(int ms);
    // Called with each new site link before its thread starts; tests
    // shorten its waits.
    std::function<void(CoNetwork&)> prepareLink;
    // What ending the application does after the book is written.
    std::function<void()> quitApplication;
    // Alerts go through here so tests can see them without a modal run.
    std::function<void(const QString& title, const QString& text)> showAlert;

private:
    class LinkReporter;
    void reloadTable();
    // Tells the user when the site book could not be written.
    void bookWritten(bool ok);
    bool permitted(uint32_t bit);
    void releaseLink();
    bool connectInProgress() const;
    // The current site link is on its way to pictures or waits for them:
    // neither streaming nor failed.
    bool linkConnecting() const;
    // The connecting text for these values, with the next count of dots.
    QString progressLine(const std::string& text, int code, const std::string& text2);
    // The same for the current connection's progress.
    QString progressLine();
    // What the current connection's progress text names: the site's own
    // address at Connect, then what its link reports while connecting.
    struct Progress {
        std::string text;
        std::string text2;
        int code = 0;
    };
    Progress m_progress;
    // Second device (AppController_Device.cpp).
    static std::unique_ptr<CoNetwork> createLink(int siteModel);
    void deviceLinkStarted();
    bool showDevicePanels();
    void followDeviceState();
    std::unique_ptr<QWidget> m_devicePanels;
    VorelLumoCtrlViewController* LumoCtrl = nullptr;
    VorelLumoCtrl2Controller* LumoCtrl2 = nullptr;
    QTimer m_deviceStateTimer;
    int m_shownDeviceState = -1;
    // A link made for a site (not the unconnected one of start-up).
    bool hasSiteLink() const { return m_link && m_linkController; }

    TitleBar* m_window;
    MyOpenGLView* m_view;
    SiteBook m_book;
    std::unique_ptr<AudioOut2> m_waveout;
    std::unique_ptr<CoNetwork> m_link;
    // Reporters outlive their link's thread: they are freed after it.
    std::unique_ptr<INetController> m_linkController;
    std::unique_ptr<INetView> m_linkView;
    std::shared_ptr<std::atomic<uint64_t>> m_epoch;
    // Where link reporters leave their reports for the GUI thread.
    std::shared_ptr<GuiMailbox> m_mailbox;
    std::shared_ptr<dvrList> m_dvrInfo;
    QPointer<QWidget> m_siteEditorView;
    std::unique_ptr<VESKCtrlViewController> VESKCtrl;
    std::unique_ptr<IPSetViewController> IPSetCtrl;
    QPointer<AudioSetViewController> AudioCtrl;
    QPointer<DisplayViewController> DisplayCtrl;
    QPointer<PTZViewController> PTZCtrl;
    QPointer<SearchViewController> SearchCtrl;
    QPointer<TimeSearchController> TimeSearchCtrl;
    QPointer<CalendarSearchController> CalendarSearchCtrl;
    QPointer<HistorySearchController> HistorySearchCtrl;
    ModalSearchWindow* SearchWindow = nullptr;
    int8_t _currentSearchView = 0;
    bool m_searchAlertShown = false;
    void startPlaybackAt(int32_t t);
    QTimer m_timerEchoCheck;
    QTimer m_clearTimer;  // clears the view after a Disconnect
    int8_t connectCnt = 0;
    int8_t EchoCheckCount_NonConnect = 0;
    int8_t EchoCheckCount = 0;
    bool m_ended = false;
};
