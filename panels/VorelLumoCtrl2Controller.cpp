#include "panels/VorelLumoCtrl2Controller.h"

#include "panels/IKeypadTarget.h"
#include "link/CNetwork.h"
#include "output/MyOpenGLView.h"
#include "platform/GuiSettingsFile.h"
#include "platform/Log.h"
#include "ui_LumoControl2.h"

VorelLumoCtrl2Controller::VorelLumoCtrl2Controller(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::LumoControl2>())
{
    ui->setupUi(this);
    connect(ui->btnREW, &QAbstractButton::clicked, this, &VorelLumoCtrl2Controller::OnButtonREW);
    connect(ui->btnStop, &QAbstractButton::clicked, this, &VorelLumoCtrl2Controller::OnButtonStop);
    connect(ui->btnPlay, &QAbstractButton::clicked, this, &VorelLumoCtrl2Controller::OnButtonPlay);
    connect(ui->btnFF, &QAbstractButton::clicked, this, &VorelLumoCtrl2Controller::OnButtonFF);
    connect(ui->btnCapture, &QAbstractButton::clicked, this, &VorelLumoCtrl2Controller::OnButtonCapture);
    connect(ui->btnFolder, &QAbstractButton::clicked, this, &VorelLumoCtrl2Controller::OnButtonFolder);
}

VorelLumoCtrl2Controller::~VorelLumoCtrl2Controller() = default;

void VorelLumoCtrl2Controller::sendKey(uint8_t code)
{
    if (!m_pAppCtrl)
        return;
    if (CNetwork* link = m_pAppCtrl->deviceLink())
        link->SendKeyCommand(code);
}

void VorelLumoCtrl2Controller::OnButtonREW() { sendKey(16); }
void VorelLumoCtrl2Controller::OnButtonStop() { sendKey(14); }
void VorelLumoCtrl2Controller::OnButtonPlay() { sendKey(19); }
void VorelLumoCtrl2Controller::OnButtonFF() { sendKey(17); }

void VorelLumoCtrl2Controller::OnButtonCapture()
{
    if (!MainGLView)
        return;
    QString folder = m_NSSCapturePath;
    if (folder.isEmpty() && m_pAppCtrl)
        folder = m_pAppCtrl->captureFolder();
    MainGLView->imageFromOpenGLView(folder);
}

void VorelLumoCtrl2Controller::OnButtonFolder()
{
    if (!m_pAppCtrl)
        return;
    QString start = m_NSSCapturePath.isEmpty() ? m_pAppCtrl->captureFolder() : m_NSSCapturePath;
    QString chosen = m_pAppCtrl->chooseCaptureFolder(start);
    if (chosen.isEmpty())
        return;
    m_NSSCapturePath = chosen;
    ui->m_PathField->setText(chosen);
    ui->m_PathField->setAccessibleName(chosen);
    // The key the controller also reads its capture folder from.
    GuiSettingsFile::storeString(QStringLiteral("capturePath"), chosen);
}

void VorelLumoCtrl2Controller::SetNetState(const QString& text, int8_t state)
{
    vlog("netstate = %d", state);
    ui->m_NetField->setText(text);
    // A line edit is not named by its text; assistive tools read the state as its name.
    ui->m_NetField->setAccessibleName(text);
}

QString VorelLumoCtrl2Controller::netStateText() const
{
    return ui->m_NetField->text();
}
