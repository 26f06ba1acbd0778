#include "panels/DisplayViewController.h"

#include <QSignalBlocker>

#include "panels/IDisplayTarget.h"
#include "ui_DisplayView.h"

namespace {

// Codes of the view's display switches.
enum : int8_t { OSD_TIME = 1, OSD_EVENT = 2, OSD_FPS = 3, OSD_SHOW_ALL = 4, OSD_HIDE_ALL = 5 };

}  // namespace

DisplayViewController::DisplayViewController(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::DisplayView>())
{
    ui->setupUi(this);
    awakeFromNib();
    connect(ui->time, &QAbstractButton::clicked, this, &DisplayViewController::buttonDownTime);
    connect(ui->event, &QAbstractButton::clicked, this, &DisplayViewController::buttonDownEvent);
    connect(ui->fps, &QAbstractButton::clicked, this, &DisplayViewController::buttonDownFPS);
    connect(ui->btnShow, &QAbstractButton::clicked, this, &DisplayViewController::buttonDownShow);
    connect(ui->btnHide, &QAbstractButton::clicked, this, &DisplayViewController::buttonDownHide);
    // Every change the user makes sends, by mouse, key or assistive tool
    // (which toggles without a click); the panel's own settings do not.
    connect(ui->iframe, &QAbstractButton::toggled, this, &DisplayViewController::CheckIframeOnly);
}

DisplayViewController::~DisplayViewController() = default;

void DisplayViewController::SetMainController(IDisplayTarget* main)
{
    m_pMainController = main;
}

void DisplayViewController::awakeFromNib()
{
    ui->time->setText("TIME / MODE\nCH TITLE");
    ui->event->setText("REC / VL\nMD / SS");
    ui->fps->setText("FPS /\n RESOLUTION");
    const QSignalBlocker quiet(ui->iframe);
    ui->iframe->setChecked(false);
}

void DisplayViewController::drawOsd(int8_t code)
{
    if (m_pMainController)
        m_pMainController->SetDrawOsd(code);
}

void DisplayViewController::buttonDownTime() { drawOsd(OSD_TIME); }
void DisplayViewController::buttonDownEvent() { drawOsd(OSD_EVENT); }
void DisplayViewController::buttonDownFPS() { drawOsd(OSD_FPS); }
void DisplayViewController::buttonDownShow() { drawOsd(OSD_SHOW_ALL); }
void DisplayViewController::buttonDownHide() { drawOsd(OSD_HIDE_ALL); }

void DisplayViewController::CheckIframeOnly()
{
    if (m_pMainController)
        m_pMainController->SetIFrameOnly(ui->iframe->isChecked() ? 1 : 0);
}
