#include "platform/GuiDisplayLink.h"

#include <algorithm>
#include <cmath>

GuiDisplayLink::GuiDisplayLink()
{
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (m_fn)
            m_fn();
    });
}

void GuiDisplayLink::setCallback(std::function<void()> fn)
{
    m_fn = std::move(fn);
}

int GuiDisplayLink::periodForRate(double refreshHz)
{
    if (!std::isfinite(refreshHz) || refreshHz < 20.0 || refreshHz > 500.0)
        refreshHz = 60.0;
    return std::max(1, int(std::lround(1000.0 / refreshHz)));
}

void GuiDisplayLink::start(double refreshHz)
{
    m_timer.start(periodForRate(refreshHz));
}

void GuiDisplayLink::stop()
{
    m_timer.stop();
}

bool GuiDisplayLink::isRunning() const
{
    return m_timer.isActive();
}

int GuiDisplayLink::periodMs() const
{
    return m_timer.interval();
}
