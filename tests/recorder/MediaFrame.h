#pragma once
// Media frame packing: a 32-byte header in the layout of the model group,
// the body (further header bytes for F3 and BADJ, then the coded data) and
// a 4-byte tail.

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "recorder/Wire.h"

namespace testrec {

enum class TailKind {
    V1,     // 00 00 01 B4
    Nend,   // "NEND"
    Wrong,  // 4 bytes that are neither
    None,   // no tail at all
    Auto,   // V1 for groups 1, 2 and 8, "NEND" for the others
};

enum class FrameType : uint8_t { Key = 1, Other = 2, Audio = 3, Garbage = 6 };

struct MediaHeader {
    int group = 7;                // 1 F3, 2 F5 (F3 layout), 7 "NDAV", 8 "BADJ", 9 NDA-grave, 10 "NDAv", 11/12 "NDAp"
    uint32_t time = 0;            // seconds since 1970 (NDAV/NDAv headers store it from 2008)
    int channel = 0;              // 0-based
    FrameType frameType = FrameType::Key;
    int nowType = 0;              // 0 live, 1 playback
    int requestId = 0;            // 0..15
    int resolutionCode = 0;       // layout's own code (see resolutionCodeFor)
    bool fiftyHz = false;         // 288/576-line standard bit
    int rate = 0;                 // F3/NDAV rate code; frames per second for BADJ, NDA-grave, NDAp
    bool evtRec = false, evtMotion = false, evtSensor = false;
    int seq = 0;
    int misc2 = 0;                // NDAp only, 0..15
    TailKind tail = TailKind::Auto;
    std::optional<uint32_t> sizeField;               // raw value of the size field instead of the right one
    std::vector<std::pair<size_t, uint8_t>> pokes;   // bytes overwritten after packing (offset from the start code)
};

std::array<uint8_t, 4> startCodeFor(int group);

// Builds one frame. The body is padded with zeros where the layout counts
// sizes in units (32 bytes for F3, 4 bytes for BADJ).
Bytes buildMediaFrame(const MediaHeader& h, const Bytes& coded);

// Offset of the coded data in a frame of this group and type, and the
// number of header bytes counted in the frame size.
size_t codedOffset(int group, FrameType type);

// Resolution code and 50 Hz bit that state a picture size in the group's
// layout; sizes outside the layout's table give its nearest code.
struct ResolutionCode {
    int code = 0;
    bool fiftyHz = false;
};
ResolutionCode resolutionCodeFor(int group, int width, int height);

// Rate field for a frame rate: F3 and NDAV rate codes, plain fps otherwise.
int rateFieldFor(int group, int fps, bool fiftyHz);

}  // namespace testrec
