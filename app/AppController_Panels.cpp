// The controller's panels and requests: what the panels send to the link,
// the status line and buttons, the sub-panel box, the search windows and
// the snapshot.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "app/AppController.h"
#include "app/TitleBar.h"
#include "app/VESKCtrlViewController.h"
#include "app/dvrList.h"
#include "link/NxNet.h"
#include "output/AudioOut2.h"
#include "output/MyOpenGLView.h"
#include "panels/AudioSetViewController.h"
#include "panels/CalendarSearchController.h"
#include "panels/DisplayViewController.h"
#include "panels/HistorySearchController.h"
#include "panels/ModalSearchWindow.h"
#include "panels/PTZViewController.h"
#include "panels/SearchViewController.h"
#include "panels/TimeSearchController.h"
#include "platform/Log.h"

// ---------------------------------------------------------------------------
// Requests

void AppController::RequestPanTilt(int8_t ch, int32_t cmd, int8_t speed)
{
    if (NxNet* nx = recorderLink())
        nx->RequestPanTilt(ch, cmd, speed);
}

void AppController::RequestPreset(int8_t ch, int32_t cmd, int8_t preset)
{
    if (NxNet* nx = recorderLink())
        nx->RequestPreset(ch, cmd, preset);
}

void AppController::RequestLiveCh(int32_t ch)
{
    if (NxNet* nx = recorderLink())
        nx->RequestLiveCh(0, int8_t(ch));
}

void AppController::RequestSearchInfo(int32_t cmd, int32_t a, int32_t b)
{
    if (NxNet* nx = recorderLink())
        nx->RequestSearchInfo(cmd, a, b);
}

void AppController::RequestHistory(const uint8_t* record, size_t len)
{
    if (NxNet* nx = recorderLink())
        nx->RequestHistory(record, len);
}

void AppController::EndHistory()
{
    if (NxNet* nx = recorderLink())
        nx->EndHistory();
}

void AppController::RequestAudio(int8_t ch)
{
    if (ch != 0) {
        vlog("requestAudio %d", ch);
        if (m_waveout)
            m_waveout->SetAudioRestart();
    } else {
        vlog("requestAudio OFF");
        if (m_waveout)
            m_waveout->SetAudioPause();
    }
    if (NxNet* nx = recorderLink())
        nx->RequestAudioCh(ch);
    if (AudioCtrl)
        AudioCtrl->SetHighlightButton(ch);
}

bool AppController::PlaySpeed(int32_t speed)
{
    if (NxNet* nx = recorderLink())
        nx->PlaySpeed(speed);
    m_view->SetDrawPlayback(speed);
    return true;
}

void AppController::ExitLive()
{
    if (NxNet* nx = recorderLink())
        nx->ExitLive();
}

void AppController::SetIFrameOnly(int8_t flag)
{
    if (NxNet* nx = recorderLink())
        nx->RequestLiveCh(flag ? 1 : 0, 0);
}

void AppController::SetDrawOsd(int8_t code)
{
    m_view->SetDrawOsd(code);
}

// ---------------------------------------------------------------------------
// Status line, buttons, panels, searches

void AppController::DisplayConnectStr(const std::string& text, int code, const std::string& text2, int kind)
{
    QString line;
    switch (kind) {
    case CONNECT_STR_CONNECTED:
        line = "Connected";
        break;
    case CONNECT_STR_LOGIN_FAIL:
        line = code == 22 ? "NOT MATCH USER" : (code == 21 ? "PASSWORD IS WRONG" : "DVR LOGIN FAIL");
        break;
    case CONNECT_STR_DISCONNECTED:
        line = "Disconnected";
        break;
    case CONNECT_STR_PROGRESS:
        line = progressLine();
        break;
    default:
        // A link's own progress text is kept for the connection's later
        // steps; it is shown only while its link is still on the way to
        // pictures: what the link reported since (connected, streaming or
        // failed) stays on the status line.
        if (hasSiteLink()) {
            m_progress = Progress{text, text2, code};
            if (!linkConnecting())
                return;
        }
        line = progressLine(text, code, text2);
        break;
    }
    m_window->netStatus()->setText(line);
}

QString AppController::progressLine(const std::string& text, int code, const std::string& text2)
{
    static const char* const kDots[] = {".", "..", "...", "..."};
    if (connectCnt < 0 || connectCnt > 3)
        connectCnt = 0;
    QString line = QString("Connect %1 - %2 [Port : %3]%4")
                       .arg(QString::fromStdString(text2), QString::fromStdString(text))
                       .arg(code)
                       .arg(kDots[connectCnt]);
    if (++connectCnt > 3)
        connectCnt = 0;
    return line;
}

QString AppController::progressLine()
{
    return progressLine(m_progress.text, m_progress.code, m_progress.text2);
}

QString AppController::statusText() const
{
    return m_window->netStatus()->text();
}

void AppController::SetButtonStatus(int status)
{
    m_window->btnConnect()->setEnabled(status == 0);
    // While a site's link exists (retrying after a failure too) the user can
    // still end it.
    m_window->btnDisconnect()->setEnabled(status != 0 || hasSiteLink());
    if (VESKCtrl)
        VESKCtrl->SetButtonStatus(status != 0 ? 1 : 0);
}

bool AppController::showPanel(QWidget* w)
{
    return TitleBar::setBoxContent(m_window->boxSubMenu(), w);
}

void AppController::ShowIpsetView()
{
    if (m_siteEditorView)
        showPanel(m_siteEditorView);
}

void AppController::SetSearchInfo(int type, int32_t v1, int32_t v2, const std::vector<uint8_t>& data)
{
    // Answers reach only a search window that is open now.
    if (_currentSearchView == 1 && TimeSearchCtrl)
        TimeSearchCtrl->SetSearchInfo(type, v1, v2);
    else if (_currentSearchView == 2 && HistorySearchCtrl)
        HistorySearchCtrl->SetSearchInfo(type, v1, v2, data.data(), data.size());
    else if (_currentSearchView == 3 && CalendarSearchCtrl)
        CalendarSearchCtrl->SetSearchInfo(type, v1, v2, data.data(), data.size());
}

void AppController::ShowSearchAlertView()
{
    // A recorder repeating its refusal gets one alert at a time.
    if (!showAlert || m_searchAlertShown)
        return;
    m_searchAlertShown = true;
    showAlert("Another user is searching", "Please try again in a few minutes.");
    m_searchAlertShown = false;
}

// ---------------------------------------------------------------------------
// Control bar

// The permission bit of the current link's login; no link counts as none.
bool AppController::permitted(uint32_t bit)
{
    uint32_t mask = m_link ? m_link->_siteInfo().auth_mask : 0;
    if (mask & bit)
        return true;
    if (showAlert)
        showAlert("Permission denide!!", "Check Authority");
    return false;
}

void AppController::ShowDisplayView()
{
    if (DisplayCtrl)
        showPanel(DisplayCtrl);
}

void AppController::ShowAudioView()
{
    if (showDevicePanels())
        return;
    if (AudioCtrl)
        showPanel(AudioCtrl);
}

void AppController::ShowPTZView()
{
    if (showDevicePanels())
        return;
    if (permitted(AUTH_PTZ) && PTZCtrl)
        showPanel(PTZCtrl);
}

AudioSetViewController* AppController::audioPanel() const
{
    return AudioCtrl;
}

DisplayViewController* AppController::displayPanel() const
{
    return DisplayCtrl;
}

PTZViewController* AppController::ptzPanel() const
{
    return PTZCtrl;
}

void AppController::Capture()
{
    m_view->imageFromOpenGLView(m_book.capturePath());
}

void AppController::OpenFolder()
{
    QString chosen = chooseFolder ? chooseFolder(m_book.capturePath()) : QString();
    if (chosen.isEmpty())
        return;
    m_book.setCapturePath(chosen);
    vlog("%s", chosen.toUtf8().constData());
}

void AppController::ShowSearchView()
{
    if (showDevicePanels())
        return;
    if (permitted(AUTH_SEARCH) && SearchCtrl)
        showPanel(SearchCtrl);
}

SearchViewController* AppController::playbackPanel() const
{
    return SearchCtrl;
}

TimeSearchController* AppController::timeSearchPanel() const
{
    return TimeSearchCtrl;
}

CalendarSearchController* AppController::calendarSearchPanel() const
{
    return CalendarSearchCtrl;
}

HistorySearchController* AppController::historySearchPanel() const
{
    return HistorySearchCtrl;
}

void AppController::ShowTimeSearchView()
{
    _currentSearchView = 1;
    auto panel = std::make_unique<TimeSearchController>();
    panel->setMainCtrlPointer(this);
    TimeSearchCtrl = panel.get();
    int t = SearchWindow->runSearch(panel.get());
    TimeSearchCtrl = nullptr;
    panel.reset();
    startPlaybackAt(t);
    vlog("return ok");
}

void AppController::ShowEventSearchView()
{
    _currentSearchView = 2;
    auto panel = std::make_unique<HistorySearchController>();
    NxNet* nx = recorderLink();
    panel->SetCh(int8_t(nx ? nx->_dvrInfo().maxch : 0));
    panel->setMainCtrlPointer(this);
    panel->SetModel(m_dvrInfo ? m_dvrInfo->modelGroup() : 0, m_dvrInfo ? m_dvrInfo->modelNum() : 0);
    HistorySearchCtrl = panel.get();
    int t = SearchWindow->runSearch(panel.get());
    vlog("return %d", t);
    // Pages still coming for this window are not wanted.
    EndHistory();
    HistorySearchCtrl = nullptr;
    panel.reset();
    startPlaybackAt(t);
}

void AppController::ShowCalendarView()
{
    _currentSearchView = 3;
    auto panel = std::make_unique<CalendarSearchController>();
    panel->setMainCtrlPointer(this);
    panel->SetModel(m_dvrInfo ? m_dvrInfo->modelGroup() : 0, m_dvrInfo ? m_dvrInfo->modelNum() : 0);
    CalendarSearchCtrl = panel.get();
    int t = SearchWindow->runSearch(panel.get());
    CalendarSearchCtrl = nullptr;
    panel.reset();
    startPlaybackAt(t);
}

// A search window's answer: playback from that time, nothing for 0.
void AppController::startPlaybackAt(int32_t t)
{
    if (t == 0)
        return;
    if (NxNet* nx = recorderLink())
        nx->RequestSearch(0, t);
    m_view->SetDrawPlayback(PLAY_NORMAL);
}
