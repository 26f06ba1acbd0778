#include "app/VESKCtrlViewController.h"

#include <QThread>
#include <QWidget>

#include "app/IControlBarTarget.h"
#include "platform/GuiMailbox.h"
#include "ui_VESKView.h"

VESKCtrlViewController::VESKCtrlViewController(QObject* parent)
    : QObject(parent),
      m_ui(std::make_unique<Ui::VESKView>()),
      m_view(new QWidget),
      m_mailbox(std::make_unique<GuiMailbox>(this))
{
    m_ui->setupUi(m_view);
    awakeFromNib();
    connect(m_ui->_Display, &QPushButton::clicked, this, &VESKCtrlViewController::OnButtonDisplay);
    connect(m_ui->_Capture, &QPushButton::clicked, this, &VESKCtrlViewController::OnButtonCapture);
    connect(m_ui->_Folder, &QPushButton::clicked, this, &VESKCtrlViewController::OnButtonFolder);
    connect(m_ui->_Search, &QPushButton::clicked, this, &VESKCtrlViewController::OnButtonSearch);
    connect(m_ui->_Ptz, &QPushButton::clicked, this, &VESKCtrlViewController::OnButtonPTZ);
    connect(m_ui->_Audio, &QPushButton::clicked, this, &VESKCtrlViewController::OnButtonAudio);
}

VESKCtrlViewController::~VESKCtrlViewController()
{
    m_mailbox->close();
    delete m_view.data();
}

void VESKCtrlViewController::awakeFromNib()
{
    SetButtonStatus(0);
}

void VESKCtrlViewController::SetButtonStatus(int status)
{
    const bool enabled = status != 0;
    if (QThread::currentThread() != thread()) {
        m_mailbox->postLatest(0, [this, enabled] { applyButtonStatus(enabled); });
        return;
    }
    applyButtonStatus(enabled);
}

// Folder is not a connection button: it keeps the state the form gives it.
void VESKCtrlViewController::applyButtonStatus(bool enabled)
{
    m_ui->_Display->setEnabled(enabled);
    m_ui->_Capture->setEnabled(enabled);
    m_ui->_Search->setEnabled(enabled);
    m_ui->_Ptz->setEnabled(enabled);
    m_ui->_Audio->setEnabled(enabled);
}

void VESKCtrlViewController::OnButtonDisplay()
{
    if (m_pMainController)
        m_pMainController->ShowDisplayView();
}

void VESKCtrlViewController::OnButtonCapture()
{
    if (m_pMainController)
        m_pMainController->Capture();
}

void VESKCtrlViewController::OnButtonFolder()
{
    if (m_pMainController)
        m_pMainController->OpenFolder();
}

void VESKCtrlViewController::OnButtonSearch()
{
    if (m_pMainController)
        m_pMainController->ShowSearchView();
}

void VESKCtrlViewController::OnButtonPTZ()
{
    if (m_pMainController)
        m_pMainController->ShowPTZView();
}

void VESKCtrlViewController::OnButtonAudio()
{
    if (m_pMainController)
        m_pMainController->ShowAudioView();
}
