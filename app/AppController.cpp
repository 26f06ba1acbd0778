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
#include "panels/DisplayViewController.h"
#include "panels/ModalSearchWindow.h"
#include "panels/PTZViewController.h"
#include "panels/SearchViewController.h"
#include "platform/GuiMailbox.h"
#include "platform/MailboxReporter.h"
#include "platform/Memory.h"
#include "platform/Log.h"

namespace {

// Controller reports that only matter by their newest value.
enum ControllerReport : uint64_t {
    kModelGroup = 1,
    kSearchAlert,
    kConnectStrOverflow,
};

}  // namespace

// Carries a link's reports to the controller on the GUI thread through the
// controller's mailbox. Reports of a link that is no longer current are
// dropped when they arrive. Search answers wait in order within the
// mailbox's budget, which the link checks before it hands one over.
class AppController::LinkReporter : public INetController {
public:
    LinkReporter(AppController* ctrl, std::shared_ptr<GuiMailbox> box, std::shared_ptr<std::atomic<uint64_t>> epoch)
        : m_post(std::move(box), ctrl, epoch->load(),
                 [epoch, mine = epoch->load()] { return epoch->load() == mine; })
    {
    }
    void SetModelGroup(uint32_t group) override
    {
        m_post.latest(kModelGroup, [group](AppController& c) { c.SetModelGroup(group); });
    }
    bool hasRoomForAnswer(size_t bytes) const override
    {
        return m_post.hasRoom(bytes);
    }
    void SetSearchInfo(int type, int32_t v1, int32_t v2, const uint8_t* data, size_t len) override
    {
        std::vector<uint8_t> copy;
        if (data && len)
            copy.assign(data, data + len);
        auto job = [type, v1, v2, copy = std::move(copy)](AppController& c) { c.SetSearchInfo(type, v1, v2, copy); };
        if (!m_post.inOrderOrDrop(std::move(job), len))
            vlog("search answer dropped: too many waiting");
    }
    void ShowSearchAlertView() override
    {
        m_post.latest(kSearchAlert, [](AppController& c) { c.ShowSearchAlertView(); });
    }
    void DisplayConnectStr(const std::string& text, int code, const std::string& text2, int kind) override
    {
        m_post.inOrder(kConnectStrOverflow,
                       [text, code, text2, kind](AppController& c) { c.DisplayConnectStr(text, code, text2, kind); });
    }

    static constexpr GuiMailbox::Budget kAnswerBudget{64, size_t(2) << 20};

private:
    MailboxReporter<AppController> m_post;
};

AppController::AppController(TitleBar* window, QObject* parent)
    : QObject(parent),
      m_window(window),
      m_view(window->mainGLView()),
      m_waveout(std::make_unique<AudioOut2>()),
      // An unconnected link stands until the first Connect releases it.
      m_link(std::make_unique<CoNetwork>()),
      m_epoch(std::make_shared<std::atomic<uint64_t>>(1)),
      m_mailbox(std::make_shared<GuiMailbox>(this, LinkReporter::kAnswerBudget))
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
    // Panels in the window may outlive the controller.
    if (AudioCtrl)
        AudioCtrl->SetMainController(nullptr);
    if (DisplayCtrl)
        DisplayCtrl->SetMainController(nullptr);
    if (PTZCtrl)
        PTZCtrl->setMainCtrlPointer(nullptr);
    if (SearchCtrl)
        SearchCtrl->setMainCtrlPointer(nullptr);
    m_timerEchoCheck.stop();
    releaseLink();
    m_mailbox->close();
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
    if (PTZCtrl)
        PTZCtrl->linkClosed();
    m_link->StopThread();
    m_link.reset();
    m_linkController.reset();
    m_linkView.reset();
    m_epoch->fetch_add(1);
    // The link's decoders gave back their large buffers.
    Memory::releaseFreeMemory();
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
    // The watchdog counts its rounds from this connection's start.
    EchoCheckCount = 0;
    EchoCheckCount_NonConnect = 0;
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
    m_linkController = std::make_unique<LinkReporter>(this, m_mailbox, m_epoch);
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
    if (prepareLink)
        prepareLink(*link);
    // The status line tells the connection's progress from the click on.
    if (site->bDDNSUSe())
        m_progress = Progress{ddnsIp.toStdString(), "DDNS", site->ddnsPort()};
    else
        m_progress = Progress{ip.toStdString(), "DVR", site->dvrport()};
    m_link = std::move(link);
    DisplayConnectStr("", 0, "", CONNECT_STR_PROGRESS);
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

bool AppController::linkConnecting() const
{
    if (!m_link)
        return false;
    switch (m_link->state()) {
    case NET_DISCONNECTED:  // not started yet
    case NET_DDNS_CONNECT_REQ:
    case NET_DDNS_SERVER_OK:
    case NET_DDNS_INFO_OK:
    case NET_CONNECT_REQ:
    case NET_CONNECT_OK:
    case NET_LOGIN_OK:
    case NET_WAIT_DATA:
    case NET_LOGIN_REQ:
        return true;
    default:
        return false;
    }
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
    // Summaries of repeated lines still owed are not lost with the process.
    vlogFlush();
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

// A failed write leaves the change in the book and on screen; the next
// write, or the one at the end, stores it.
void AppController::bookWritten(bool ok)
{
    if (ok || m_book.writeError().isEmpty() || !showAlert)
        return;
    showAlert(QStringLiteral("Site book not saved"),
              QStringLiteral("%1 could not be written: %2").arg(m_book.fileName(), m_book.writeError()));
}

void AppController::ReadInfo()
{
    m_book.ReadInfo();
    bookWritten(m_book.writeError().isEmpty());
    reloadTable();
    if (m_book.count() > 3)
        m_window->tableView()->scrollToItem(m_window->tableView()->item(3, 0));
}

void AppController::AddDVR(std::shared_ptr<dvrList> record)
{
    const bool ok = m_book.AddDVR(std::move(record));
    reloadTable();
    bookWritten(ok);
}

void AppController::UpdateDVR(const dvrList& record)
{
    int row = selectedRow();
    if (row < 0)
        return;
    const bool ok = m_book.UpdateDVR(row, record);
    reloadTable();
    bookWritten(ok);
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
    bookWritten(m_book.writeError().isEmpty());
}

void AppController::SyncDVRINfo()
{
    bookWritten(m_book.SyncDVRINfo());
}

void AppController::SetModelGroup(uint32_t group)
{
    if (m_dvrInfo)
        m_dvrInfo->setModelGroup(int(group));
}
