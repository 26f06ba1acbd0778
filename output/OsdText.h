#pragma once
#include <cstdint>
#include <string>

#include "output/FrameDrain.h"
#include "output/ViewLayout.h"

// Texts, colours and places of the on-screen display items. Needs no window.
namespace OsdText {

enum Item {
    ItemTime,
    ItemMode,
    ItemRegName,
    ItemChTitle,
    ItemPlayback,
    ItemAlarm,
    ItemResolution,
    ItemFrameRate,
    kItemCount
};

struct Colour {
    float r, g, b;
};

Colour itemColour(Item item);

// Raster position (bottom-left corner of the first glyph) of an item of
// channel ch in normalised view coordinates; false when the channel has no
// cell in the current layout.
bool itemPosition(Item item, int maxCh, int zoomCh, int ch, float* x, float* y);

// Moves a raster position (x, y) just enough for a text of w x h pixels
// drawn from it to lie wholly inside the cell of a view of viewW x viewH
// pixels; a text wider than the cell starts at its left edge. The position
// ends on the centre of the pixel the text starts at, so that no rounding
// can move the text off it.
void fitInCell(const ViewLayout::CellRect& cell, int viewW, int viewH, int w, int h, float* x, float* y);

// Label of a playback speed code (EnumPlaySpeed); "" for live and unknown codes.
const char* playbackLabel(int32_t speed);
// "LIVE", "SEARCH" or "?".
const char* modeText(int videoType);
std::string resolutionText(int w, int h);
std::string frameRateText(int fps);

// Alarm text of channel ch: "REC", "  VL", "  MD", "  SS" in this order.
// Clears the recording, motion and sensor bits it shows; video loss stays.
std::string takeAlarmText(ChannelEventBits& bits, uint16_t videoLoss, int ch);

}  // namespace OsdText
