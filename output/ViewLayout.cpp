#include "output/ViewLayout.h"

namespace ViewLayout {
namespace {

// Column edges from the left; rows use the same edges mirrored (from the top).
const float kEdges1[] = {-1.0f, 1.0f};
const float kEdges2[] = {-1.0f, 0.0f, 1.0f};
const float kEdges3[] = {-1.0f, -0.34f, 0.34f, 1.0f};
const float kEdges4[] = {-1.0f, -0.5f, 0.0f, 0.5f, 1.0f};

const float* edgesFor(int side)
{
    switch (side) {
    case 1: return kEdges1;
    case 2: return kEdges2;
    case 3: return kEdges3;
    case 4: return kEdges4;
    default: return nullptr;
    }
}

}  // namespace

int gridSide(int maxCh, int zoomCh)
{
    if (zoomCh != 0)
        return 1;
    switch (maxCh) {
    case 4: return 2;
    case 8:
    case 9: return 3;
    case 16: return 4;
    default: return 1;
    }
}

int cellOfChannel(int maxCh, int zoomCh, int ch)
{
    if (ch < 0 || ch >= kMaxChannels)
        return -1;
    if (zoomCh != 0)
        return ch + 1 == zoomCh ? 0 : -1;
    int side = gridSide(maxCh, zoomCh);
    if (side == 1)
        return 0;
    return ch < side * side ? ch : -1;
}

bool cellRect(int side, int cell, CellRect* out)
{
    const float* e = edgesFor(side);
    if (!e || cell < 0 || cell >= side * side || !out)
        return false;
    int row = cell / side;
    int col = cell % side;
    out->left = e[col];
    out->right = e[col + 1];
    out->top = -e[row];
    out->bottom = -e[row + 1];
    return true;
}

bool isChannelDrawn(int maxCh, int zoomCh, uint16_t recOnOff, uint16_t covert, int ch)
{
    if (cellOfChannel(maxCh, zoomCh, ch) < 0)
        return false;
    uint16_t bit = uint16_t(1u << ch);
    return (recOnOff & bit) && !(covert & bit);
}

int clickedCell(int maxCh, double w, double h, double x, double d)
{
    int side = gridSide(maxCh, 0);
    if (side == 1)
        return 0;
    auto band = [side](double v, double extent) {
        int i = 0;
        while (i < side - 1 && !(v < extent * (i + 1) / side))
            ++i;
        return i;
    };
    return band(d, h) * side + band(x, w) + 1;
}

int displayWidth(int w)
{
    switch (w) {
    case 352: return 360;
    case 472: return 480;
    case 704: return 720;
    case 944: return 960;
    default: return w;
    }
}

int displayHeight(int h)
{
    return h == 176 ? 180 : h;
}

}  // namespace ViewLayout
