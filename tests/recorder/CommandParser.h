#pragma once
// Cuts the byte stream a client sends into command frames (V1 and V2).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "recorder/Wire.h"

namespace testrec {

struct ParsedCommand {
    uint32_t id = 0;
    CmdFormat format = CmdFormat::V2;
    Bytes payload;  // decoded payload (FF bytes of V1 removed)
    Bytes raw;      // the frame exactly as received, head to tail
};

class CommandParser {
public:
    // For V2 frames the payload is not self-delimiting: expectedSize(id)
    // gives the payload length a well-formed frame of that id has, or -1
    // when unknown (then the first "NEND" ends the frame).
    using SizeFn = std::function<int(uint32_t id)>;

    explicit CommandParser(SizeFn expectedSize = {});

    // Appends received bytes; complete frames are moved to the output list.
    void feed(const uint8_t* data, size_t n);
    std::vector<ParsedCommand> take();

    size_t skippedBytes() const { return skipped_; }
    size_t pendingBytes() const { return buf_.size(); }
    void reset();

    static constexpr size_t kMaxFrame = 1u << 20;

private:
    enum class Step { NeedMore, Consumed, Resync };
    Step parseOne();
    Step parseV1();
    Step parseV2();
    bool tailAt(size_t off, const uint8_t tail[4]) const;
    bool headAt(size_t off) const;
    void emit(uint32_t id, CmdFormat fmt, Bytes payload, size_t frameLen);

    SizeFn expectedSize_;
    Bytes buf_;
    std::vector<ParsedCommand> out_;
    size_t skipped_ = 0;
};

}  // namespace testrec
