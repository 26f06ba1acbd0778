#include "panels/VorelLumoCtrlViewController.h"

#include "panels/IKeypadTarget.h"
#include "link/CNetwork.h"
#include "panels/CMyButton.h"
#include "platform/Log.h"
#include "ui_LumoControl.h"

namespace {

// Press and release codes of the direction, zoom and focus buttons, in the
// order they are given their link.
struct HeldKey {
    CMyButton* Ui::LumoControl::*button;
    int8_t down;
    int8_t up;
};

constexpr HeldKey kHeldKeys[] = {
    {&Ui::LumoControl::m_BtnUp, 15, 72},       {&Ui::LumoControl::m_BtnRight, 17, 80},
    {&Ui::LumoControl::m_BtnDown, 18, 73},     {&Ui::LumoControl::m_BtnLeft, 16, 81},
    {&Ui::LumoControl::m_BtnZoomUp, 70, 82},   {&Ui::LumoControl::m_BtnZoomDown, 71, 83},
    {&Ui::LumoControl::m_BtnFocusUp, 68, 85},  {&Ui::LumoControl::m_BtnFocusDown, 69, 84},
};

}  // namespace

VorelLumoCtrlViewController::VorelLumoCtrlViewController(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::LumoControl>())
{
    ui->setupUi(this);
    connectKeys();
}

VorelLumoCtrlViewController::~VorelLumoCtrlViewController()
{
    vlog("VorelLumoCtrlViewController dealloc");
}

void VorelLumoCtrlViewController::connectKeys()
{
    const struct {
        QAbstractButton* button;
        void (VorelLumoCtrlViewController::*action)();
    } keys[] = {
        {ui->btnNum1, &VorelLumoCtrlViewController::OnButtonNum1},
        {ui->btnNum2, &VorelLumoCtrlViewController::OnButtonNum2},
        {ui->btnNum3, &VorelLumoCtrlViewController::OnButtonNum3},
        {ui->btnNum4, &VorelLumoCtrlViewController::OnButtonNum4},
        {ui->btnNum5, &VorelLumoCtrlViewController::OnButtonNum5},
        {ui->btnNum6, &VorelLumoCtrlViewController::OnButtonNum6},
        {ui->btnNum7, &VorelLumoCtrlViewController::OnButtonNum7},
        {ui->btnNum8, &VorelLumoCtrlViewController::OnButtonNum8},
        {ui->btnNum9, &VorelLumoCtrlViewController::OnButtonNum9},
        {ui->btnNum0, &VorelLumoCtrlViewController::OnButtonNum0},
        {ui->btnSetup, &VorelLumoCtrlViewController::OnButtonSetup},
        {ui->btnPTZ, &VorelLumoCtrlViewController::OnButtonPTZ},
        {ui->btnAutoSeq, &VorelLumoCtrlViewController::OnButtonAutoSeq},
        {ui->btnSearch, &VorelLumoCtrlViewController::OnButtonSearch},
        {ui->btnSelect, &VorelLumoCtrlViewController::OnButtonSelect},
        {ui->btnQuad, &VorelLumoCtrlViewController::OnButtonQuad},
        {ui->btnAudio, &VorelLumoCtrlViewController::OnButtonAudio},
    };
    for (const auto& k : keys)
        connect(k.button, &QAbstractButton::clicked, this, k.action);
    // Held keys send their press code when pressed and their release code
    // when let go.
    for (const HeldKey& k : kHeldKeys) {
        CMyButton* b = (*ui).*k.button;
        connect(b, &QAbstractButton::pressed, this, [this, b] { sendKey(uint8_t(b->cmdDown())); });
        connect(b, &QAbstractButton::released, this, [this, b] { sendKey(uint8_t(b->cmdUp())); });
    }
}

void VorelLumoCtrlViewController::setAppCtrlPointer(IKeypadTarget* ctrl)
{
    m_pAppCtrl = ctrl;
    CNetwork* link = ctrl ? ctrl->deviceLink() : nullptr;
    for (const HeldKey& k : kHeldKeys)
        ((*ui).*k.button)->setPTZInit(link, k.down, k.up);
}

void VorelLumoCtrlViewController::sendKey(uint8_t code)
{
    if (!m_pAppCtrl)
        return;
    if (CNetwork* link = m_pAppCtrl->deviceLink())
        link->SendKeyCommand(code);
}

void VorelLumoCtrlViewController::OnButtonNum1() { sendKey(2); }
void VorelLumoCtrlViewController::OnButtonNum2() { sendKey(4); }
void VorelLumoCtrlViewController::OnButtonNum3() { sendKey(5); }
void VorelLumoCtrlViewController::OnButtonNum4() { sendKey(6); }
void VorelLumoCtrlViewController::OnButtonNum5() { sendKey(7); }
void VorelLumoCtrlViewController::OnButtonNum6() { sendKey(8); }
void VorelLumoCtrlViewController::OnButtonNum7() { sendKey(9); }
void VorelLumoCtrlViewController::OnButtonNum8() { sendKey(10); }
void VorelLumoCtrlViewController::OnButtonNum9() { sendKey(11); }
void VorelLumoCtrlViewController::OnButtonNum0() { sendKey(13); }
void VorelLumoCtrlViewController::OnButtonSetup() { sendKey(14); }
void VorelLumoCtrlViewController::OnButtonPTZ() { sendKey(24); }
void VorelLumoCtrlViewController::OnButtonAutoSeq() { sendKey(22); }
void VorelLumoCtrlViewController::OnButtonSearch() { sendKey(3); }
void VorelLumoCtrlViewController::OnButtonSelect() { sendKey(19); }
void VorelLumoCtrlViewController::OnButtonQuad() { sendKey(12); }
void VorelLumoCtrlViewController::OnButtonAudio() { sendKey(20); }
