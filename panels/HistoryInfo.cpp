#include "panels/HistoryInfo.h"

const std::string* HistoryInfo::valueForKey(std::string_view key) const
{
    if (key == "_strTime")
        return &_strTime;
    if (key == "_strEvent")
        return &_strEvent;
    if (key == "_strInfo")
        return &_strInfo;
    return nullptr;
}
