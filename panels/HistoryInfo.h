#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// One row of the event-log table: time, event and detail texts and the
// entry's time (seconds since 1970, wall clock counted as UTC).
class HistoryInfo {
public:
    void SetTimeSring(std::string text) { _strTime = std::move(text); }
    const std::string& GetTimeString() const { return _strTime; }
    void SetEvent(std::string text) { _strEvent = std::move(text); }
    const std::string& GetEvent() const { return _strEvent; }
    void SetInfo(std::string text) { _strInfo = std::move(text); }
    const std::string& GetInfo() const { return _strInfo; }
    void SetTime(int32_t t) { time = t; }
    int32_t GetTime() const { return time; }

    // A text by its member's name ("_strTime", "_strEvent", "_strInfo");
    // nullptr for any other name. Table columns name their text this way.
    const std::string* valueForKey(std::string_view key) const;

private:
    std::string _strTime;
    std::string _strEvent;
    std::string _strInfo;
    int32_t time = 0;
};
