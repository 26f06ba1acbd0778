// The controller's side of the second device kind: its link, its keypad
// panels in the sub-panel box and the link state they show.
#include <QVBoxLayout>
#include <QWidget>

#include "app/AppController.h"
#include "link/CNetwork.h"
#include "link/NxNet.h"
#include "output/MyOpenGLView.h"
#include "panels/VorelLumoCtrl2Controller.h"
#include "panels/VorelLumoCtrlViewController.h"

namespace {

// What the keypad panel shows for each link state of the second device.
const char* deviceStateText(uint32_t state)
{
    switch (state) {
    case NET_DISCONNECTED: return "Disconnected";
    case NET_DDNS_CONNECT_REQ: return "DDNS connecting";
    case NET_DDNS_SERVER_OK: return "DDNS server connected";
    case NET_DDNS_SERVER_FAIL: return "DDNS server failed";
    case NET_DDNS_INFO_OK: return "DDNS address received";
    case NET_DDNS_INFO_FAIL: return "DDNS address failed";
    case NET_CONNECT_REQ: return "Connecting";
    case NET_CONNECT_OK: return "Logging in";
    case NET_CONNECT_FAIL: return "Connect failed";
    case NET_LOGIN_OK: return "Waiting for video";
    case NET_LOGIN_FAIL: return "Login failed";
    case NET_MAX_USER: return "Too many users";
    case NET_WAIT_DATA: return "Waiting for data";
    case NET_STREAMING: return "Connected";
    default: return "";
    }
}

}  // namespace

std::unique_ptr<CoNetwork> AppController::createLink(int siteModel)
{
    switch (siteModel) {
    case SITE_MODEL_MJPEG: return std::make_unique<CNetwork>();
    case SITE_MODEL_DVR: return std::make_unique<NxNet>();
    default: return nullptr;
    }
}

CNetwork* AppController::deviceLink() const
{
    return dynamic_cast<CNetwork*>(m_link.get());
}

// A second device sends one picture stream and no channel count, recording
// or covert masks: its picture is shown alone and always drawn, whatever an
// earlier recorder left in the view. Its keypads are shown at once.
void AppController::deviceLinkStarted()
{
    if (!deviceLink())
        return;
    m_view->setMaxCH(1);
    m_view->SetRecOnOff(1);
    m_view->SetCovert(0);
    showDevicePanels();
    // The held keys carry the link of this connection.
    LumoCtrl->setAppCtrlPointer(this);
}

// While a second device is connected its keypads take the place of the
// recorder panels; answers whether they did.
bool AppController::showDevicePanels()
{
    if (!deviceLink())
        return false;
    if (!m_devicePanels) {
        m_devicePanels = std::make_unique<QWidget>();
        m_devicePanels->setAccessibleName("Keypad panels");
        auto* layout = new QVBoxLayout(m_devicePanels.get());
        layout->setContentsMargins(0, 0, 0, 0);
        LumoCtrl = new VorelLumoCtrlViewController(m_devicePanels.get());
        LumoCtrl2 = new VorelLumoCtrl2Controller(m_devicePanels.get());
        layout->addWidget(LumoCtrl);
        layout->addWidget(LumoCtrl2);
        LumoCtrl->setAppCtrlPointer(this);
        LumoCtrl2->setAppCtrlPointer(this);
        LumoCtrl2->setGLView(m_view);
        m_deviceStateTimer.setInterval(250);
        connect(&m_deviceStateTimer, &QTimer::timeout, this, &AppController::followDeviceState);
    }
    m_shownDeviceState = -1;
    followDeviceState();
    m_deviceStateTimer.start();
    return showPanel(m_devicePanels.get());
}

void AppController::followDeviceState()
{
    CNetwork* link = deviceLink();
    if (!link) {
        m_deviceStateTimer.stop();
        m_shownDeviceState = -1;
        if (LumoCtrl2)
            LumoCtrl2->SetNetState(deviceStateText(NET_DISCONNECTED), NET_DISCONNECTED);
        return;
    }
    int state = int(link->state());
    if (state == m_shownDeviceState)
        return;
    m_shownDeviceState = state;
    LumoCtrl2->SetNetState(deviceStateText(uint32_t(state)), int8_t(state));
}
