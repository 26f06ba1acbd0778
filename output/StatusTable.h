#pragma once

// From link state to what the video view shows and tells the controller.
namespace StatusTable {

constexpr int kPictureCount = 18;
constexpr int kPicDisconnected = 0;
constexpr int kPicRecOff = 16;
constexpr int kPicCovert = 17;

struct Action {
    int picture = -1;       // status picture slot, -1 for none
    int lineKind = -1;      // status-line kind (EnumConnectStrKind), -1 for none
    bool buttonsOff = false;  // disconnected button state after the picture
    bool streaming = false;   // first whole frame: the view starts streaming
};

// False for states that change nothing.
bool actionFor(int state, Action* out);

// Resource name of a picture slot; "" out of range. Slots 7 and 9 share one.
const char* pictureName(int slot);

}  // namespace StatusTable
