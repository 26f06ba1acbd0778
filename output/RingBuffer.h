#pragma once
#include <cstdint>
#include <functional>
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

// Video queue: pictures decoded on several threads at once. Each producer
// takes a free slot, fills it outside the lock and commits that slot (or
// gives it back unfilled); the one consumer takes committed slots in the
// order they were committed, reads one in place and releases it. A reset
// drops every committed slot; a slot taken before the reset is neither
// published nor released into the queue after it, only made free again.
//
// Free slots are handed out most recently freed first, so only as many
// slots are ever touched as are in use at once: slot memory is not cleared
// at creation and the pages of slots never used stay unallocated.
class RingBuffer {
public:
    // Sixteen channels decoded in parallel, each with a picture in the
    // consumer's hands and one being decoded, with room to spare.
    static constexpr int kSlots = 32;
    static constexpr int capacity() { return kSlots; }

    RingBuffer();
    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    // Producers (any thread).
    tag_FrameV_Orgin* tryGetWriteBuffer();
    void putWriteBuffer(tag_FrameV_Orgin* slot);
    void cancelWriteBuffer(tag_FrameV_Orgin* slot);
    // For a sole producer: commits the slot it took last.
    void putWriteBuffer();

    // The consumer (one thread): the oldest committed slot, the same one
    // until it is released.
    tag_FrameV_Orgin* tryGetReadBuffer();
    void putReadBuffer();
    // True when a committed slot of channel ch waits behind the one in the
    // consumer's hands, so that one need not be shown.
    bool hasReadyOfChannel(int ch) const;
    // Consumer: releases every committed slot that a newer committed slot
    // of the same channel follows, oldest first, showing each to `seen`
    // (under the queue's lock: it must not call the queue). Answers how
    // many were released.
    int releaseSuperseded(const std::function<void(const tag_FrameV_Orgin&)>& seen);

    void reset();

    // Committed slots not yet released.
    int count() const;
    int freeCount() const;
    // Pictures committed and released since creation.
    uint64_t committedCount() const;
    uint64_t releasedCount() const;
    // Slot storage, for callers that need its address (tests).
    tag_FrameV_Orgin* slot(int i) { return &buffers[i]; }

    // Observers, set before the queue is in use: a slot about to be
    // committed (producer's thread) and about to be released (consumer's).
    std::function<void(const tag_FrameV_Orgin&)> onCommit;
    std::function<void(const tag_FrameV_Orgin&)> onRelease;

private:
    enum class State : uint8_t { Free, Writing, Ready, Reading };

    int indexOf(const tag_FrameV_Orgin* slot) const;
    void freeSlot(int i);
    void releaseStaleRead();

    std::unique_ptr<tag_FrameV_Orgin[]> buffers;
    State state[kSlots] = {};
    uint64_t slotGeneration[kSlots] = {};
    int freeStack[kSlots] = {};
    int freeTop = 0;
    int ready[kSlots] = {};  // ring of committed slots, oldest first
    int readyHead = 0;
    int readyCount = 0;
    int reading = -1;  // slot in the consumer's hands
    int lastTaken = -1;
    uint64_t generation = 0;
    uint64_t committed = 0;
    uint64_t released = 0;
    mutable std::mutex ringLock;
};

// Audio queue: forty PCM blocks.
class RingBufferA : public SlotQueue<tag_FrameA_Orgin, 40> {};
