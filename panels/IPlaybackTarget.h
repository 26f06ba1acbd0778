#pragma once
#include <cstddef>
#include <cstdint>

// What the playback control panel and the search panels ask of the main
// controller. Called on the GUI thread.
class IPlaybackTarget {
public:
    virtual ~IPlaybackTarget() = default;

    // Playback speed code (EnumPlaySpeed); the answer is not used.
    virtual bool PlaySpeed(int32_t speed) = 0;
    // Back to live view.
    virtual void ExitLive() = 0;
    // Run one search window modally.
    virtual void ShowTimeSearchView() = 0;
    virtual void ShowEventSearchView() = 0;
    virtual void ShowCalendarView() = 0;
    // Recording information request (command, kind, time).
    virtual void RequestSearchInfo(int32_t cmd, int32_t a, int32_t b) = 0;
    // Event-log request (command 32) with its record.
    virtual void RequestHistory(const uint8_t* record, size_t len) = 0;
    // No more event-log pages are wanted (the list is full); later pages of
    // the request are dropped by the link.
    virtual void EndHistory() {}
};
