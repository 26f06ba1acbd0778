#pragma once
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>

class IPTZTarget;
class CMyButton;
class MyOpenGLView;
namespace Ui {
class PTZView;
}

// The PTZ panel: pan, tilt, zoom and focus of the zoomed channel's camera,
// auto focus, home, the camera's menu with OK and CANCEL, and presets.
//
// Direction, zoom and focus are hold buttons: a hold sends one move when it
// begins and one stop when it ends, so a short click sends move then stop.
// The stop goes to the channel of the move, whatever the view shows by then.
// Nothing but OK and CANCEL is sent while the view shows all channels.
class PTZViewController : public QWidget {
    Q_OBJECT

public:
    explicit PTZViewController(QWidget* parent = nullptr);
    ~PTZViewController() override;

    void setMainCtrlPointer(IPTZTarget* main);
    void setGLViewPointer(MyOpenGLView* view);

    // Hold buttons: the sender's state is 1 while held and 0 on release.
    void btnDownLEFT(CMyButton* sender);
    void btnDownRIGHT(CMyButton* sender);
    void btnDownUP(CMyButton* sender);
    void btnDownDOWN(CMyButton* sender);
    void btnDownZOOMUP(CMyButton* sender);
    void btnDownZOOMDOWN(CMyButton* sender);
    void btnDownFOCUSUP(CMyButton* sender);
    void btnDownFOCUSDOWN(CMyButton* sender);
    void btnDownHOME(CMyButton* sender);
    void btnDownAUTOFOCUS(CMyButton* sender);
    void btnDownCAMERAMENU(CMyButton* sender);
    void btnDownOK(CMyButton* sender);
    void btnDownCANCEL(CMyButton* sender);
    // The sender's tag is the preset index from 0.
    void btnDownPresetMove(CMyButton* sender);
    void btnDownPresetSet(CMyButton* sender);

    // 1-based channel the menu keys address.
    int8_t liveCh() const { return currentLiveCh; }

    // Ends any hold without sending its stop: the link is gone.
    void linkClosed();

protected:
    void hideEvent(QHideEvent* e) override;

private:
    void connectButtons();
    int8_t zoomedChannel() const;
    void hold(CMyButton* sender, int32_t code);
    void endHold(bool sendStop);
    void single(int32_t code);
    void preset(CMyButton* sender, int32_t code);
    void panTilt(int8_t ch, int32_t code);

    std::unique_ptr<Ui::PTZView> ui;
    IPTZTarget* m_mainControler = nullptr;  // not owned
    int8_t currentLiveCh = 8;
    int32_t btnDownCount = 0;
    int8_t m_holdCh = -1;  // 0-based channel of the held move, -1 for none
    QPointer<MyOpenGLView> pGLView;
};
