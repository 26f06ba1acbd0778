#pragma once
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>

class IDisplayTarget;
namespace Ui {
class DisplayView;
}

// The on-screen display panel: toggles the time, event and frame-rate
// groups of the video view, shows or hides them all, and asks the recorder
// for key frames only.
class DisplayViewController : public QWidget {
    Q_OBJECT

public:
    explicit DisplayViewController(QWidget* parent = nullptr);
    ~DisplayViewController() override;

    void SetMainController(IDisplayTarget* main);

    void buttonDownTime();
    void buttonDownEvent();
    void buttonDownFPS();
    void buttonDownShow();
    void buttonDownHide();
    void CheckIframeOnly();

private:
    void awakeFromNib();
    void drawOsd(int8_t code);

    std::unique_ptr<Ui::DisplayView> ui;
    IDisplayTarget* m_pMainController = nullptr;  // not owned
};
