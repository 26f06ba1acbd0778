#include "panels/SearchViewController.h"

#include "link/CNetDef.h"
#include "panels/IPlaybackTarget.h"
#include "platform/Log.h"
#include "ui_SearchView.h"

namespace {

// Each ladder restarts at its first step from any other speed and wraps
// from its top step.
int32_t nextRewSpeed(int32_t current)
{
    switch (current) {
    case -2: return -4;
    case -4: return -8;
    case -8: return -16;
    case -16: return -32;
    default: return -2;
    }
}

int32_t nextFfSpeed(int32_t current)
{
    switch (current) {
    case 2: return 4;
    case 4: return 8;
    case 8: return 16;
    case 16: return PLAY_MAX;
    default: return 2;
    }
}

}  // namespace

SearchViewController::SearchViewController(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::SearchView>())
{
    ui->setupUi(this);
    connectButtons();
}

SearchViewController::~SearchViewController() = default;

void SearchViewController::connectButtons()
{
    const struct {
        QAbstractButton* button;
        void (SearchViewController::*action)();
    } actions[] = {
        {ui->btnTimeSearch, &SearchViewController::btnDownTimesearch},
        {ui->btnEventSearch, &SearchViewController::btnDownEventsearch},
        {ui->btnCalendarSearch, &SearchViewController::btnDownCalendarsearch},
        {ui->btnLive, &SearchViewController::btnDownLive},
        {ui->btnREW, &SearchViewController::btnDownREW},
        {ui->btnFF, &SearchViewController::btnDownFF},
        {ui->btnRP, &SearchViewController::btnDownRP},
        {ui->btnPause, &SearchViewController::btnDownPause},
        {ui->btnPlay, &SearchViewController::btnDownPlay},
        {ui->btnSlowP, &SearchViewController::btnDownSlowP},
        {ui->btnNextF, &SearchViewController::btnDownNextF},
        {ui->btnPreF, &SearchViewController::btnDownPreF},
    };
    for (const auto& a : actions)
        connect(a.button, &QAbstractButton::clicked, this, a.action);
}

void SearchViewController::btnDownTimesearch()
{
    if (m_mainControler)
        m_mainControler->ShowTimeSearchView();
}

void SearchViewController::btnDownEventsearch()
{
    if (m_mainControler)
        m_mainControler->ShowEventSearchView();
}

void SearchViewController::btnDownCalendarsearch()
{
    if (m_mainControler)
        m_mainControler->ShowCalendarView();
}

void SearchViewController::btnDownLive()
{
    if (m_mainControler)
        m_mainControler->ExitLive();
}

void SearchViewController::btnDownREW()
{
    int32_t speed = nextRewSpeed(m_currentPlayback);
    vlog("speed %d", speed);
    setSpeed(speed);
}

void SearchViewController::btnDownFF()
{
    setSpeed(nextFfSpeed(m_currentPlayback));
}

void SearchViewController::btnDownRP()
{
    setSpeed(-1);
}

void SearchViewController::btnDownPause()
{
    setSpeed(PLAY_PAUSE);
}

void SearchViewController::btnDownPlay()
{
    setSpeed(PLAY_NORMAL);
}

void SearchViewController::btnDownSlowP()
{
    setSpeed(PLAY_SLOW_2);
}

// Frame steps leave the ladder where it was.
void SearchViewController::btnDownNextF()
{
    sendSpeed(PLAY_STEP_FORWARD);
}

void SearchViewController::btnDownPreF()
{
    sendSpeed(PLAY_STEP_BACKWARD);
}

void SearchViewController::setSpeed(int32_t speed)
{
    m_currentPlayback = speed;
    sendSpeed(speed);
}

void SearchViewController::sendSpeed(int32_t speed)
{
    if (m_mainControler)
        m_mainControler->PlaySpeed(speed);
}
