#pragma once
#include <cstdint>

// Cell arithmetic of the video view. Channels are 0-based; cells are numbered
// row by row from the top-left, starting at 0.
namespace ViewLayout {

constexpr int kMaxChannels = 16;

// Cell bounds in normalised view coordinates: x from -1 (left) to 1 (right),
// y from -1 (bottom) to 1 (top).
struct CellRect {
    float left;
    float bottom;
    float right;
    float top;
};

// Side of the grid in use: 1 (one picture over the whole view), 2, 3 or 4.
// A zoomed channel (1-based, 0 for none) always gets the whole view.
int gridSide(int maxCh, int zoomCh);

// Cell of a channel in the current layout, or -1 when it has none.
int cellOfChannel(int maxCh, int zoomCh, int ch);

// Bounds of one cell of a grid; false for a side or cell out of range.
bool cellRect(int side, int cell, CellRect* out);

// Whether a frame of the channel is drawn: the channel has a cell, records
// and is not covert.
bool isChannelDrawn(int maxCh, int zoomCh, uint16_t recOnOff, uint16_t covert, int ch);

// Cell under a click on the split view, 1-based, or 0 when the channel count
// has no split layout. w and h are the view's size, x the distance from the
// left and d from the top; a click on a border belongs to the next column or
// row.
int clickedCell(int maxCh, double w, double h, double x, double d);

// Sizes shown in the resolution label (the texture keeps the frame's own).
int displayWidth(int w);
int displayHeight(int h);

}  // namespace ViewLayout
