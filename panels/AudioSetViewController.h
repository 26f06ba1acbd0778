#pragma once
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>

class IAudioTarget;
class CMyButton;
namespace Ui {
class AudioView;
}

// The audio channel panel: plays channel 1 to 4 or turns sound off, and
// shows the channel being played with a highlighted button.
class AudioSetViewController : public QWidget {
    Q_OBJECT

public:
    explicit AudioSetViewController(QWidget* parent = nullptr);
    ~AudioSetViewController() override;

    void SetMainController(IAudioTarget* main);

    void ButtonDownCh1();
    void ButtonDownCh2();
    void ButtonDownCh3();
    void ButtonDownCh4();
    void ButtonDownOff();

    // Highlights button ch (1 to 4), none for 0; other values change nothing.
    void SetHighlightButton(int8_t ch);
    // The channel button n (1 to 4).
    CMyButton* channelButton(int n) const;

private:
    void request(int8_t ch);

    std::unique_ptr<Ui::AudioView> ui;
    IAudioTarget* m_pMainController = nullptr;  // not owned
};
