#pragma once
// Thread-safe list of the commands a recorder received, with waits.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "recorder/Wire.h"

namespace testrec {

struct ReceivedCommand {
    uint32_t id = 0;
    CmdFormat format = CmdFormat::V2;
    Bytes payload;       // FF bytes of V1 removed
    Bytes raw;           // the frame as received
    int connection = 0;  // 1 for the first accepted client, 2 for the next, ...
};

class CommandLog {
public:
    void add(ReceivedCommand c);
    void clear();

    std::vector<ReceivedCommand> all() const;
    std::vector<ReceivedCommand> withId(uint32_t id) const;
    size_t count(uint32_t id) const;
    size_t size() const;

    // Waits until at least nth commands with this id were logged (counting
    // those logged before the call) and answers the nth one.
    std::optional<ReceivedCommand> waitFor(uint32_t id, std::chrono::milliseconds timeout, size_t nth = 1) const;

    // Waits until the log holds more than `already` commands of any id and
    // answers the first one after them.
    std::optional<ReceivedCommand> waitForNext(size_t already, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::vector<ReceivedCommand> log_;
};

}  // namespace testrec
