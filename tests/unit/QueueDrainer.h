#pragma once
// Takes pictures out of a link's queue as the view would, on a thread of its
// own, so that the link never waits for room.

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "output/RingBuffer.h"

namespace linktest {

class QueueDrainer {
public:
    using Each = std::function<void(const tag_FrameV_Orgin&)>;
    ~QueueDrainer() { stop(); }
    // each sees every picture on the drainer's thread.
    void start(RingBuffer& queue, Each each = {})
    {
        stop();
        stop_ = false;
        thread_ = std::thread([this, &queue, each = std::move(each)] {
            while (!stop_) {
                if (tag_FrameV_Orgin* slot = queue.tryGetReadBuffer()) {
                    if (each)
                        each(*slot);
                    queue.putReadBuffer();
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            }
        });
    }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

}  // namespace linktest
