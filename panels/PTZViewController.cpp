#include "panels/PTZViewController.h"

#include "panels/IPTZTarget.h"
#include "link/CNetDef.h"
#include "output/MyOpenGLView.h"
#include "panels/CMyButton.h"
#include "platform/Log.h"
#include "ui_PTZView.h"

namespace {

constexpr int8_t kSpeed = 1;

}  // namespace

PTZViewController::PTZViewController(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::PTZView>())
{
    ui->setupUi(this);
    connectButtons();
}

PTZViewController::~PTZViewController() = default;

void PTZViewController::connectButtons()
{
    using Action = void (PTZViewController::*)(CMyButton*);
    const struct {
        CMyButton* button;
        Action action;
    } holds[] = {
        {ui->btnLeft, &PTZViewController::btnDownLEFT},
        {ui->btnRight, &PTZViewController::btnDownRIGHT},
        {ui->btnUp, &PTZViewController::btnDownUP},
        {ui->btnDown, &PTZViewController::btnDownDOWN},
        {ui->btnZoomUp, &PTZViewController::btnDownZOOMUP},
        {ui->btnZoomDown, &PTZViewController::btnDownZOOMDOWN},
        {ui->btnFocusUp, &PTZViewController::btnDownFOCUSUP},
        {ui->btnFocusDown, &PTZViewController::btnDownFOCUSDOWN},
    };
    for (const auto& h : holds) {
        h.button->setContinuous(true);
        connect(h.button, &CMyButton::action, this, h.action);
    }

    auto onClick = [this](CMyButton* b, Action action) {
        connect(b, &QAbstractButton::clicked, this, [this, b, action] { (this->*action)(b); });
    };
    onClick(ui->btnHome, &PTZViewController::btnDownHOME);
    onClick(ui->btnAutoFocus, &PTZViewController::btnDownAUTOFOCUS);
    onClick(ui->btnMenu, &PTZViewController::btnDownCAMERAMENU);
    onClick(ui->btnOK, &PTZViewController::btnDownOK);
    onClick(ui->btnCancel, &PTZViewController::btnDownCANCEL);
    for (CMyButton* b : findChildren<CMyButton*>()) {
        if (b->objectName().startsWith("btnPresetMove"))
            onClick(b, &PTZViewController::btnDownPresetMove);
        else if (b->objectName().startsWith("btnPresetSet"))
            onClick(b, &PTZViewController::btnDownPresetSet);
    }
}

void PTZViewController::setMainCtrlPointer(IPTZTarget* main)
{
    m_mainControler = main;
}

void PTZViewController::setGLViewPointer(MyOpenGLView* view)
{
    pGLView = view;
}

// 1 to 16 for the channel shown alone, 0 for the split view (or no view).
int8_t PTZViewController::zoomedChannel() const
{
    return pGLView ? int8_t(pGLView->getMouseClickCh()) : 0;
}

void PTZViewController::panTilt(int8_t ch, int32_t code)
{
    if (m_mainControler)
        m_mainControler->RequestPanTilt(ch, code, kSpeed);
}

// One move to the zoomed channel when the hold begins, one stop to the same
// channel when it ends. The count is shared by all hold buttons, so a hold
// whose release was lost makes the next hold send only its stop.
void PTZViewController::hold(CMyButton* sender, int32_t code)
{
    if (sender->state() != 0) {
        int8_t z = zoomedChannel();
        if (btnDownCount == 0 && z != 0) {
            m_holdCh = int8_t(z - 1);
            panTilt(m_holdCh, code);
            ++btnDownCount;
        }
        return;
    }
    endHold(true);
    sender->setState(1);
}

void PTZViewController::endHold(bool sendStop)
{
    if (btnDownCount != 0 && sendStop)
        panTilt(m_holdCh, PTZ_STOP);
    btnDownCount = 0;
    m_holdCh = -1;
}

void PTZViewController::linkClosed()
{
    endHold(false);
    for (CMyButton* b : findChildren<CMyButton*>())
        if (b->isContinuous())
            b->cancelHold();
}

// Buttons hidden while down end their own holds; this also ends one whose
// release was lost.
void PTZViewController::hideEvent(QHideEvent* e)
{
    endHold(true);
    QWidget::hideEvent(e);
}

void PTZViewController::single(int32_t code)
{
    int8_t z = zoomedChannel();
    if (z != 0)
        panTilt(int8_t(z - 1), code);
}

// Presets act on the zoomed channel and remember it for the menu keys; in
// the split view there is no channel to address and nothing is sent.
void PTZViewController::preset(CMyButton* sender, int32_t code)
{
    if (pGLView) {
        int8_t z = zoomedChannel();
        if (z == 0)
            return;
        currentLiveCh = z;
    }
    if (code == PTZ_PRESET_MOVE)
        vlog(" CURRENTCH : %d, num : %d", currentLiveCh, sender->tag());
    if (m_mainControler)
        m_mainControler->RequestPreset(int8_t(currentLiveCh - 1), code, int8_t(sender->tag() + 1));
}

void PTZViewController::btnDownLEFT(CMyButton* sender) { hold(sender, PTZ_LEFT); }
void PTZViewController::btnDownRIGHT(CMyButton* sender) { hold(sender, PTZ_RIGHT); }
void PTZViewController::btnDownUP(CMyButton* sender) { hold(sender, PTZ_UP); }
void PTZViewController::btnDownDOWN(CMyButton* sender) { hold(sender, PTZ_DOWN); }
void PTZViewController::btnDownZOOMUP(CMyButton* sender) { hold(sender, PTZ_ZOOM_UP); }
void PTZViewController::btnDownZOOMDOWN(CMyButton* sender) { hold(sender, PTZ_ZOOM_DOWN); }
void PTZViewController::btnDownFOCUSUP(CMyButton* sender) { hold(sender, PTZ_FOCUS_UP); }
void PTZViewController::btnDownFOCUSDOWN(CMyButton* sender) { hold(sender, PTZ_FOCUS_DOWN); }

void PTZViewController::btnDownHOME(CMyButton*) { single(PTZ_HOME); }
void PTZViewController::btnDownAUTOFOCUS(CMyButton*) { single(PTZ_AUTO_FOCUS); }
void PTZViewController::btnDownCAMERAMENU(CMyButton*) { single(PTZ_CAMERA_MENU); }

// The menu keys address the channel a preset button last used.
void PTZViewController::btnDownOK(CMyButton*) { panTilt(int8_t(currentLiveCh - 1), PTZ_MENU_OK); }
void PTZViewController::btnDownCANCEL(CMyButton*) { panTilt(int8_t(currentLiveCh - 1), PTZ_MENU_CANCEL); }

void PTZViewController::btnDownPresetMove(CMyButton* sender) { preset(sender, PTZ_PRESET_MOVE); }
void PTZViewController::btnDownPresetSet(CMyButton* sender) { preset(sender, PTZ_PRESET_SET); }
