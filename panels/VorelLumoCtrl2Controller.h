#pragma once
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

class IKeypadTarget;
class MyOpenGLView;
namespace Ui {
class LumoControl2;
}

// The second device's playback keys, the snapshot button with its own
// folder choice, and a field showing the link's state.
class VorelLumoCtrl2Controller : public QWidget {
    Q_OBJECT

public:
    explicit VorelLumoCtrl2Controller(QWidget* parent = nullptr);
    ~VorelLumoCtrl2Controller() override;

    void setAppCtrlPointer(IKeypadTarget* ctrl) { m_pAppCtrl = ctrl; }
    void setGLView(MyOpenGLView* view) { MainGLView = view; }

    void OnButtonREW();
    void OnButtonStop();
    void OnButtonPlay();
    void OnButtonFF();
    // Snapshot into the panel's folder, or the controller's capture folder
    // while the panel has none.
    void OnButtonCapture();
    void OnButtonFolder();
    void SetNetState(const QString& text, int8_t state);

    const QString& capturePath() const { return m_NSSCapturePath; }
    QString netStateText() const;

private:
    void sendKey(uint8_t code);

    std::unique_ptr<Ui::LumoControl2> ui;
    QString m_NSSCapturePath;
    MyOpenGLView* MainGLView = nullptr;
    IKeypadTarget* m_pAppCtrl = nullptr;
};
