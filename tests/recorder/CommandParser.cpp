#include "recorder/CommandParser.h"

#include <cstring>

namespace testrec {

CommandParser::CommandParser(SizeFn expectedSize) : expectedSize_(std::move(expectedSize)) {}

void CommandParser::reset()
{
    buf_.clear();
    out_.clear();
    skipped_ = 0;
}

void CommandParser::feed(const uint8_t* data, size_t n)
{
    buf_.insert(buf_.end(), data, data + n);
    // Each pass consumes a frame or at least one byte, so the loop ends.
    for (size_t guard = buf_.size() + 1; guard > 0 && !buf_.empty(); --guard) {
        const Step s = parseOne();
        if (s == Step::NeedMore)
            break;
        if (s == Step::Resync) {
            buf_.erase(buf_.begin());
            ++skipped_;
        }
    }
}

std::vector<ParsedCommand> CommandParser::take()
{
    std::vector<ParsedCommand> out;
    out.swap(out_);
    return out;
}

bool CommandParser::tailAt(size_t off, const uint8_t tail[4]) const
{
    return off + 4 <= buf_.size() && std::memcmp(buf_.data() + off, tail, 4) == 0;
}

bool CommandParser::headAt(size_t off) const { return tailAt(off, kHeadV1) || tailAt(off, kHeadV2); }

void CommandParser::emit(uint32_t id, CmdFormat fmt, Bytes payload, size_t frameLen)
{
    ParsedCommand c;
    c.id = id;
    c.format = fmt;
    c.payload = std::move(payload);
    c.raw.assign(buf_.begin(), buf_.begin() + long(frameLen));
    out_.push_back(std::move(c));
    buf_.erase(buf_.begin(), buf_.begin() + long(frameLen));
}

CommandParser::Step CommandParser::parseOne()
{
    if (buf_.size() < 4) {
        // A partial head waits; anything else is skipped.
        const size_t n = buf_.size();
        const bool prefix = std::memcmp(buf_.data(), kHeadV1, n) == 0 || std::memcmp(buf_.data(), kHeadV2, n) == 0;
        return prefix ? Step::NeedMore : Step::Resync;
    }
    if (tailAt(0, kHeadV1))
        return parseV1();
    if (tailAt(0, kHeadV2))
        return parseV2();
    return Step::Resync;
}

// V1 is self-delimiting: payload bytes come in (byte, FF) pairs and the
// first pair whose second byte is not FF starts the tail.
CommandParser::Step CommandParser::parseV1()
{
    if (buf_.size() < 8)
        return Step::NeedMore;
    if (buf_[5] != 0xFF || buf_[7] != 0xFF)
        return Step::Resync;
    const uint32_t id = buf_[4] | (uint32_t(buf_[6]) << 8);
    Bytes payload;
    for (size_t off = 8; off < kMaxFrame; off += 2) {
        if (off + 2 > buf_.size())
            return Step::NeedMore;
        if (buf_[off + 1] == 0xFF) {
            payload.push_back(buf_[off]);
            continue;
        }
        if (off + 4 > buf_.size())
            return Step::NeedMore;
        if (!tailAt(off, kTailV1))
            return Step::Resync;
        emit(id, CmdFormat::V1, std::move(payload), off + 4);
        return Step::Consumed;
    }
    return Step::Resync;
}

CommandParser::Step CommandParser::parseV2()
{
    if (buf_.size() < 8)
        return Step::NeedMore;
    const uint32_t id = getLe32(buf_.data() + 4);
    const int expected = expectedSize_ ? expectedSize_(id) : -1;
    if (expected >= 0) {
        const size_t end = 8 + size_t(expected);
        if (tailAt(end, kTailV2)) {
            emit(id, CmdFormat::V2, Bytes(buf_.begin() + 8, buf_.begin() + long(end)), end + 4);
            return Step::Consumed;
        }
    }
    // Unknown size, or a frame of another length: the first "NEND" ends it,
    // provided the stream either goes on with a head or the expected end
    // has already passed.
    const size_t expectedEnd = expected >= 0 ? 8 + size_t(expected) + 4 : 0;
    for (size_t off = 8; off + 4 <= buf_.size() && off < kMaxFrame; ++off) {
        if (!tailAt(off, kTailV2))
            continue;
        const bool settled = expected < 0 || buf_.size() >= expectedEnd || headAt(off + 4);
        if (!settled)
            return Step::NeedMore;
        emit(id, CmdFormat::V2, Bytes(buf_.begin() + 8, buf_.begin() + long(off)), off + 4);
        return Step::Consumed;
    }
    return buf_.size() >= kMaxFrame ? Step::Resync : Step::NeedMore;
}

}  // namespace testrec
