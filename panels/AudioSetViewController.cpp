#include "panels/AudioSetViewController.h"

#include "panels/IAudioTarget.h"
#include "panels/CMyButton.h"
#include "ui_AudioView.h"

AudioSetViewController::AudioSetViewController(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::AudioView>())
{
    ui->setupUi(this);
    connect(ui->buttonAudio1, &QAbstractButton::clicked, this, &AudioSetViewController::ButtonDownCh1);
    connect(ui->buttonAudio2, &QAbstractButton::clicked, this, &AudioSetViewController::ButtonDownCh2);
    connect(ui->buttonAudio3, &QAbstractButton::clicked, this, &AudioSetViewController::ButtonDownCh3);
    connect(ui->buttonAudio4, &QAbstractButton::clicked, this, &AudioSetViewController::ButtonDownCh4);
    connect(ui->buttonAudioOff, &QAbstractButton::clicked, this, &AudioSetViewController::ButtonDownOff);
}

AudioSetViewController::~AudioSetViewController() = default;

void AudioSetViewController::SetMainController(IAudioTarget* main)
{
    m_pMainController = main;
}

void AudioSetViewController::request(int8_t ch)
{
    if (m_pMainController)
        m_pMainController->RequestAudio(ch);
}

void AudioSetViewController::ButtonDownCh1() { request(1); }
void AudioSetViewController::ButtonDownCh2() { request(2); }
void AudioSetViewController::ButtonDownCh3() { request(3); }
void AudioSetViewController::ButtonDownCh4() { request(4); }
void AudioSetViewController::ButtonDownOff() { request(0); }

CMyButton* AudioSetViewController::channelButton(int n) const
{
    switch (n) {
    case 1: return ui->buttonAudio1;
    case 2: return ui->buttonAudio2;
    case 3: return ui->buttonAudio3;
    case 4: return ui->buttonAudio4;
    default: return nullptr;
    }
}

void AudioSetViewController::SetHighlightButton(int8_t ch)
{
    if (ch < 0 || ch > 4)
        return;
    for (int n = 1; n <= 4; ++n)
        channelButton(n)->setHighlight(n == ch);
}
