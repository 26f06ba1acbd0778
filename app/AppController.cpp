#include "app/AppController.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>

#include "app/IPSetViewController.h"
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

// Carries a link's reports to the controller on the GUI thread. Reports of a
// link that is no longer current are dropped when they arrive.
class AppController::LinkReporter : public INetController {
public:
    LinkReporter(AppController* ctrl, std::shared_ptr<std::atomic<uint64_t>> epoch)
        : m_ctrl(ctrl), m_epochSource(std::move(epoch)), m_epoch(m_epochSource->load())
    {
    }
    void SetModelGroup(uint32_t group) override
    {
        post([group](AppController* c) { c->SetModelGroup(group); });
    }
    void SetSearchInfo(int type, int32_t v1, int32_t v2, const uint8_t* data, size_t len) override
    {
        std::vector<uint8_t> copy;
        if (data && len)
            copy.assign(data, data + len);
        post([type, v1, v2, copy = std::move(copy)](AppController* c) { c->SetSearchInfo(type, v1, v2, copy); });
    }
    void ShowSearchAlertView() override
    {
        post([](AppController* c) { c->ShowSearchAlertView(); });
    }
    void DisplayConnectStr(const std::string& text, int code, const std::string& text2, int kind) override
    {
        post([text, code, text2, kind](AppController* c) { c->DisplayConnectStr(text, code, text2, kind); });
    }

private:
    template <typename F>
    void post(F&& fn)
    {
        auto epochSource = m_epochSource;
        uint64_t epoch = m_epoch;
        AppController* ctrl = m_ctrl;
        QMetaObject::invokeMethod(
            ctrl,
            [ctrl, epochSource, epoch, fn = std::forward<F>(fn)]() {
                if (epochSource->load() == epoch)
                    fn(ctrl);
            },
            Qt::QueuedConnection);
    }
    AppController* m_ctrl;
    std::shared_ptr<std::atomic<uint64_t>> m_epochSource;
    uint64_t m_epoch;
};

AppController::AppController(TitleBar* window, QObject* parent)
    : QObject(parent),
      m_window(window),
      m_view(window->mainGLView()),
      m_waveout(std::make_unique<AudioOut2>()),
      // An unconnected link stands until the first Connect releases it.
      m_link(std::make_unique<CoNetwork>()),
      m_epoch(std::make_shared<std::atomic<uint64_t>>(1))
{
    quitApplication = [] { QApplication::exit(0); };
    showAlert = [this](const QString& title, const QString& text) {
        QMessageBox::warning(m_window, title, text, QMessageBox::Ok);
    };
    // The view's snapshot alerts go through the same hook.
    m_view->showAlert = [this](const QString& title, const QString& text) {
        if (showAlert)
            showAlert(title, text);
    };
    chooseFolder = [this](const QString& start) {
        return QFileDialog::getExistingDirectory(m_window, QString(), start);
    };
    VESKCtrl = std::make_unique<VESKCtrlViewController>();
    IPSetCtrl = std::make_unique<IPSetViewController>();
    VESKCtrl->SetMainController(this);
    IPSetCtrl->setMainCtrlPointer(this);
    setSiteEditorView(IPSetCtrl->view());
    onSiteSelected = [this](std::shared_ptr<dvrList> r) {
        if (r)
            IPSetCtrl->setDVRInfo(*r);
    };
    AudioCtrl = new AudioSetViewController(m_window->boxSubMenu());
    DisplayCtrl = new DisplayViewController(m_window->boxSubMenu());
    PTZCtrl = new PTZViewController(m_window->boxSubMenu());
    AudioCtrl->hide();
    DisplayCtrl->hide();
    PTZCtrl->hide();
    AudioCtrl->SetMainController(this);
    DisplayCtrl->SetMainController(this);
    PTZCtrl->setMainCtrlPointer(this);
    SearchCtrl = new SearchViewController(m_window->boxSubMenu());
    SearchCtrl->hide();
    SearchCtrl->setMainCtrlPointer(this);
    SearchWindow = new ModalSearchWindow(m_window);
    m_clearTimer.setSingleShot(true);
    m_clearTimer.setInterval(500);
    connect(&m_clearTimer, &QTimer::timeout, this, [this] { m_view->ClearGlView(); });
    m_timerEchoCheck.setInterval(10000);
    connect(&m_timerEchoCheck, &QTimer::timeout, this, &AppController::CheckEcho);
    connect(window->btnConnect(), &QPushButton::clicked, this, &AppController::OnButtonDvrConnect);
    connect(window->btnDisconnect(), &QPushButton::clicked, this, &AppController::OnButtonDvrDisconnect);
    connect(window->btnExit(), &QPushButton::clicked, this, &AppController::OnButtonExit);
    connect(window, &TitleBar::windowWillClose, this, &AppController::windowWillClose);
    connect(window->tableView(), &QTableWidget::itemSelectionChanged, this, [this] {
        ShowIpsetView();
        int row = selectedRow();
        if (row >= 0 && onSiteSelected)
            onSiteSelected(m_book.record(row));
    });
}

AppController::~AppController()
{
    vlog("AppController dealloc\n");
    m_timerEchoCheck.stop();
    releaseLink();
    if (m_waveout)
        m_waveout->StopThread();
}

void AppController::awakeFromNib()
{
    TitleBar::setBoxContent(m_window->boxMainMenu(), VESKCtrl->view());
    ShowIpsetView();
    ReadInfo();
    m_window->btnDisconnect()->setEnabled(false);
    PTZCtrl->setGLViewPointer(m_view);
    m_window->netStatus()->setText("Disconnected");
    if (m_book.count() > 0)
        m_window->tableView()->selectRow(0);
    m_waveout->CreateThread(true);
}

NxNet* AppController::recorderLink() const
{
    return dynamic_cast<NxNet*>(m_link.get());
}

// ---------------------------------------------------------------------------
// Connect, disconnect, watchdog, end

int AppController::selectedRow() const
{
    const QTableWidget* t = m_window->tableView();
    QList<QTableWidgetItem*> items = t->selectedItems();
    if (items.isEmpty())
        return -1;
    int row = items.first()->row();
    return row < m_book.count() ? row : -1;
}

void AppController::releaseLink()
{
    if (!m_link)
        return;
    m_link->StopThread();
    m_link.reset();
    m_linkController.reset();
    m_linkView.reset();
    m_epoch->fetch_add(1);
}

void AppController::OnButtonDvrConnect()
{
    int row = selectedRow();
    if (row < 0)
        return;
    SetButtonStatus(1);
    std::shared_ptr<dvrList> site = m_book.record(row);
    if (m_link) {
        m_view->SetNetPointer(nullptr);
        vlog("NETWORK RELEASE");
        releaseLink();
        if (AudioCtrl)
            AudioCtrl->SetHighlightButton(0);
        RequestAudio(0);
        ShowIpsetView();
    }
    // Replaced only now that the old link has stopped.
    m_dvrInfo = site;
    if (!m_timerEchoCheck.isActive())
        m_timerEchoCheck.start();

    std::unique_ptr<CoNetwork> link = createLink(site->modelNum());
    if (!link) {
        vlog("site model %d cannot be connected", site->modelNum());
        m_view->SetNetPointer(nullptr);
        SetButtonStatus(0);
        return;
    }
    // A Disconnect's pending clear must not blank the new link's pictures.
    m_clearTimer.stop();
    m_epoch->fetch_add(1);
    m_linkController = std::make_unique<LinkReporter>(this, m_epoch);
    link->setAppController(m_linkController.get());
    link->setAudioOutPointer(m_waveout.get());
    link->setQpointerV(m_view->getRingBuffer());
    link->setQpointerA(m_waveout->GetPtrRingBufferQ());
    link->SetDecoder(site->modelNum());
    m_view->SetNetPointer(link.get());
    m_linkView = m_view->makeLinkReporter();
    link->setViewPointer(m_linkView.get());
    m_view->SetRegName(site->nsStrRegName());
    m_view->SetMainPointer(this);

    QByteArray ip = site->nsStrDVRIP().toUtf8();
    QByteArray ddnsId = site->nsStrDDNSID().toUtf8();
    QByteArray pwd = site->nsStrDVRPwd().toUtf8();
    QByteArray ddnsIp = site->nsStrDDNSIP().toUtf8();
    QByteArray id = site->nsStrDVRID().toUtf8();
    link->setNetInfo(char(site->bDDNSUSe()), ip.constData(), ddnsId.constData(), pwd.constData(), site->dvrport(),
                     ddnsIp.constData(), site->ddnsPort(), id.constData(), site->modelNum());
    m_link = std::move(link);
    m_link->CreateThread();
    deviceLinkStarted();
}

void AppController::OnButtonDvrDisconnect()
{
    if (!m_link) {
        SetButtonStatus(0);
        return;
    }
    RequestAudio(0);
    DisplayConnectStr("", 0, "", CONNECT_STR_DISCONNECTED);
    m_view->SetNetPointer(nullptr);
    // Releasing the link also ends the watchdog's retries.
    releaseLink();
    SetButtonStatus(0);
    if (AudioCtrl)
        AudioCtrl->SetHighlightButton(0);
    ShowIpsetView();
    m_clearTimer.start();
}

// A link still looking its device up or waiting for the connect is left alone.
bool AppController::connectInProgress() const
{
    if (!m_link || m_link->isThreadExitDone())
        return false;
    if (m_link->isResolving())
        return true;
    uint32_t s = m_link->state();
    return s == NET_DDNS_CONNECT_REQ || s == NET_DDNS_SERVER_OK || s == NET_DDNS_INFO_OK || s == NET_CONNECT_REQ;
}

void AppController::CheckEcho()
{
    if (!m_link)
        return;
    if (++EchoCheckCount_NonConnect < 2)
        return;
    EchoCheckCount_NonConnect = 0;
    if (!m_link->IsConnectDVR()) {
        if (connectInProgress())
            return;
        vlog("ECHO NONE RESTART CONNECT-1");
        OnButtonDvrConnect();
        EchoCheckCount = 0;
        return;
    }
    NxNet* nx = recorderLink();
    if (!nx)
        return;
    if (++EchoCheckCount < 10)
        return;
    if (nx->GetEchoCount() != 0) {
        EchoCheckCount = 0;
        nx->SetEchoCount(0);
        return;
    }
    vlog("ECHO NONE RESTART CONNECT-2");
    OnButtonDvrConnect();
    EchoCheckCount = 0;
}

void AppController::setWatchdogInterval(int ms)
{
    m_timerEchoCheck.setInterval(ms);
}

void AppController::OnButtonExit()
{
    EndApplication();
}

void AppController::windowWillClose()
{
    vlog("windowWillClose\n");
    EndApplication();
}

void AppController::EndApplication()
{
    if (m_ended)
        return;
    m_ended = true;
    vlog("END APPLICATION\n");
    m_timerEchoCheck.stop();
    m_view->SetNetPointer(nullptr);
    releaseLink();
    m_waveout->StopThread();
    m_waveout.reset();
    SyncDVRINfo();
    if (quitApplication)
        quitApplication();
}

// ---------------------------------------------------------------------------
// Site book

void AppController::reloadTable()
{
    QTableWidget* t = m_window->tableView();
    const QSignalBlocker block(t);
    int keep = selectedRow();
    t->setRowCount(m_book.count());
    for (int i = 0; i < m_book.count(); ++i) {
        auto* item = new QTableWidgetItem(m_book.record(i)->nsStrRegName());
        t->setItem(i, 0, item);
    }
    if (keep >= 0 && keep < m_book.count())
        t->selectRow(keep);
}

void AppController::ReadInfo()
{
    m_book.ReadInfo();
    reloadTable();
    if (m_book.count() > 3)
        m_window->tableView()->scrollToItem(m_window->tableView()->item(3, 0));
}

void AppController::AddDVR(std::shared_ptr<dvrList> record)
{
    m_book.AddDVR(std::move(record));
    reloadTable();
}

void AppController::UpdateDVR(const dvrList& record)
{
    int row = selectedRow();
    if (row < 0)
        return;
    m_book.UpdateDVR(row, record);
    reloadTable();
}

void AppController::DeleteDVR()
{
    int row = selectedRow();
    if (row < 0)
        return;
    int next = m_book.DeleteDVR(row);
    reloadTable();
    QTableWidget* t = m_window->tableView();
    t->clearSelection();
    if (next >= 0)
        t->selectRow(next);
}

void AppController::SyncDVRINfo()
{
    m_book.SyncDVRINfo();
}

void AppController::SetModelGroup(uint32_t group)
{
    if (m_dvrInfo)
        m_dvrInfo->setModelGroup(int(group));
}

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
    default: {
        static const char* const kDots[] = {".", "..", "...", "..."};
        if (connectCnt < 0 || connectCnt > 3)
            connectCnt = 0;
        line = QString("Connect %1 - %2 [Port : %3]%4")
                   .arg(QString::fromStdString(text2), QString::fromStdString(text))
                   .arg(code)
                   .arg(kDots[connectCnt]);
        if (++connectCnt > 3)
            connectCnt = 0;
        break;
    }
    }
    m_window->netStatus()->setText(line);
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
    if (showAlert)
        showAlert("Another user is searching", "Please try again in a few minutes.");
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
