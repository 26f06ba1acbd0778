#pragma once
#include <QWidget>
#include <cstdint>
#include <memory>

class IKeypadTarget;
class QAbstractButton;
namespace Ui {
class LumoControl;
}

// The second device's front-panel keypad: digits, function keys, and the
// direction, zoom and focus buttons, which carry a press and a release code
// (sent when the button goes down and when it comes up). Every key goes to
// the controller's current link, when that is a second-device link.
class VorelLumoCtrlViewController : public QWidget {
    Q_OBJECT

public:
    explicit VorelLumoCtrlViewController(QWidget* parent = nullptr);
    ~VorelLumoCtrlViewController() override;

    void setAppCtrlPointer(IKeypadTarget* ctrl);

    void OnButtonNum1();
    void OnButtonNum2();
    void OnButtonNum3();
    void OnButtonNum4();
    void OnButtonNum5();
    void OnButtonNum6();
    void OnButtonNum7();
    void OnButtonNum8();
    void OnButtonNum9();
    void OnButtonNum0();
    void OnButtonSetup();
    void OnButtonPTZ();
    void OnButtonAutoSeq();
    void OnButtonSearch();
    void OnButtonSelect();
    void OnButtonQuad();
    void OnButtonAudio();

private:
    void connectKeys();
    void sendKey(uint8_t code);

    std::unique_ptr<Ui::LumoControl> ui;
    IKeypadTarget* m_pAppCtrl = nullptr;
};
