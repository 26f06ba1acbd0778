#pragma once
#include <cstdint>
#include <memory>
#include <mutex>

// One decoded picture: the head of the decoder packet followed by the pixels.
struct tag_FrameV_Orgin {
    int32_t result;
    uint32_t time;
    int8_t ch;
    uint8_t now_type;
    int8_t add_nal;
    int32_t w;
    int32_t h;
    int32_t outsize;
    uint8_t evt_rec;
    uint8_t evt_md;
    uint8_t evt_ss;
    alignas(64) uint8_t outbuff[1920 * 1080 * 4];  // BGRA, rows top-down
};

// One decoded audio block.
struct tag_FrameA_Orgin {
    uint32_t time;
    uint32_t dwLength;  // bytes of PCM
    uint8_t bufAudio[16384];  // 16-bit signed mono PCM
};

// Single-producer single-consumer slot queue; one slot always stays empty.
// Slots are filled and read in place outside the lock. A reset bumps a
// generation count, so a slot taken before the reset is neither published
// nor released after it.
template <typename Slot, int N>
class SlotQueue {
public:
    SlotQueue() : buffers(new Slot[N]()) {}
    SlotQueue(const SlotQueue&) = delete;
    SlotQueue& operator=(const SlotQueue&) = delete;

    static constexpr int capacity() { return N; }

    Slot* tryGetWriteBuffer()
    {
        std::lock_guard<std::mutex> lock(ringLock);
        if (readIndex == (writeIndex + 1) % N)
            return nullptr;
        writerGeneration = generation;
        return &buffers[writeIndex];
    }
    void putWriteBuffer()
    {
        std::lock_guard<std::mutex> lock(ringLock);
        if (writerGeneration != generation || readIndex == (writeIndex + 1) % N)
            return;
        writeIndex = (writeIndex + 1) % N;
    }
    Slot* tryGetReadBuffer()
    {
        std::lock_guard<std::mutex> lock(ringLock);
        if (readIndex == writeIndex)
            return nullptr;
        readerGeneration = generation;
        return &buffers[readIndex];
    }
    void putReadBuffer()
    {
        std::lock_guard<std::mutex> lock(ringLock);
        if (readerGeneration != generation || readIndex == writeIndex)
            return;
        readIndex = (readIndex + 1) % N;
    }
    void reset()
    {
        std::lock_guard<std::mutex> lock(ringLock);
        writeIndex = 0;
        readIndex = 0;
        ++generation;
    }
    // Number of slots ready for the consumer.
    int count() const
    {
        std::lock_guard<std::mutex> lock(ringLock);
        return (writeIndex - readIndex + N) % N;
    }
    int getWriteIndex() const
    {
        std::lock_guard<std::mutex> lock(ringLock);
        return writeIndex;
    }
    int getReadIndex() const
    {
        std::lock_guard<std::mutex> lock(ringLock);
        return readIndex;
    }
    // Slot storage, for callers that need its address (tests).
    Slot* slot(int i) { return &buffers[i]; }

private:
    std::unique_ptr<Slot[]> buffers;
    int writeIndex = 0;
    int readIndex = 0;
    uint64_t generation = 0;
    uint64_t writerGeneration = 0;
    uint64_t readerGeneration = 0;
    mutable std::mutex ringLock;
};

// Video queue: five full-size BGRA pictures.
class RingBuffer : public SlotQueue<tag_FrameV_Orgin, 5> {};

// Audio queue: forty PCM blocks.
class RingBufferA : public SlotQueue<tag_FrameA_Orgin, 40> {};
