// Feeds arbitrary bytes to the search answer readers: the recorded range
// text, the month grid, both day map forms and both event-log page forms.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "link/NxLib.h"
#include "panels/SearchRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint32_t word = 0;
    std::memcpy(&word, data, size < 4 ? size : 4);
    (void)timeText(word);
    // Month grid of any year and month; the month mask marks days of it.
    const int year = int(int16_t(word));
    const int month = int8_t(word >> 16);
    const CalendarMonth grid = LayoutMonth(year, month);
    int shown = 0;
    for (int8_t d : grid.cell)
        shown += d != 0;
    if (shown != grid.days)
        __builtin_trap();

    // Each parser reads its own copy of exactly the received bytes, so any
    // read past the end is caught.
    auto copy = std::make_unique<uint8_t[]>(size ? size : 1);
    std::memcpy(copy.get(), data, size);
    static tagSearchDay_HDHL dayHdhl;
    static tagSearchDay_H dayH;
    ReadSearchDay(copy.get(), size, &dayHdhl);
    ReadSearchDay(copy.get(), size, &dayH);
    for (int ch = -1; ch <= 16; ++ch)
        (void)MinuteColour(dayH.rhour[23].rmin[59].rch, dayH.rhour[0].rmin[0].md, dayHdhl.rhour[0].rmin[0].sensor, ch);

    for (const HistoryInfo& row : ReadHistoryItems_H(copy.get(), size))
        if (row.GetTimeString().empty())
            __builtin_trap();
    // A detail text that is shown is valid UTF-8.
    for (const HistoryInfo& row : ReadHistoryItems_HDHL(copy.get(), size))
        if (Utf8FieldText(row.GetInfo().data(), row.GetInfo().size()) != row.GetInfo())
            __builtin_trap();
    return 0;
}
