#pragma once
#include <QTimer>
#include <functional>

// Stands in for a display link: calls a function once per screen refresh on
// the thread that owns it (the GUI thread), from a precise timer.
class GuiDisplayLink {
public:
    GuiDisplayLink();
    GuiDisplayLink(const GuiDisplayLink&) = delete;
    GuiDisplayLink& operator=(const GuiDisplayLink&) = delete;

    void setCallback(std::function<void()> fn);
    // Starts (or restarts) at the given refresh rate; rates that make no
    // sense fall back to 60 Hz.
    void start(double refreshHz);
    void stop();
    bool isRunning() const;
    int periodMs() const;

    static int periodForRate(double refreshHz);

private:
    QTimer m_timer;
    std::function<void()> m_fn;
};
