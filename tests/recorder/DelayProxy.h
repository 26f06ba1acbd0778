#pragma once
// A slow link for tests: listens on 127.0.0.1, connects each client it
// accepts to 127.0.0.1:targetPort, and passes the bytes of each direction
// on a fixed delay after they arrived, in order and without loss. When one
// side closes, the other is closed once the bytes before the close have
// gone through. One thread, waiting in poll; stop() ends it at once.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <thread>
#include <vector>

#include "recorder/Wire.h"

namespace testrec {

class DelayProxy {
public:
    DelayProxy(uint16_t targetPort, std::chrono::milliseconds delay);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port) and starts the thread.
    bool start(uint16_t port = 0);
    // Closes every connection at once and joins the thread.
    void stop();
    uint16_t port() const { return port_; }
    int connections() const { return accepted_; }  // clients accepted so far
    // CPU time the proxy's thread has used so far.
    double cpuSeconds() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Chunk {
        Clock::time_point due;
        Bytes bytes;  // empty: the source closed here
    };
    // Bytes from one side of a pair on their way to the other.
    struct Flow {
        std::deque<Chunk> chunks;
        size_t queued = 0;  // bytes in chunks
        size_t sent = 0;    // of the first chunk
        bool ended = false;  // nothing more is read from the source
    };
    // Side 0 the client, side 1 the target; flow i runs from side i.
    struct Pair {
        int fd[2] = {-1, -1};
        bool connecting = false;
        Flow flow[2];
    };

    void loop();
    void accept();
    void readSide(Pair& p, int side);
    void flush(Pair& p, int from);
    void closeSide(Pair& p, int side);
    int timeoutMs() const;

    uint16_t targetPort_;
    std::chrono::milliseconds delay_;
    uint16_t port_ = 0;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
    std::deque<Pair> pairs_;  // the thread's only
};

}  // namespace testrec
