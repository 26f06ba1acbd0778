#include "output/RingBuffer.h"

// The audio queue is a template; this unit pins its instantiation.
template class SlotQueue<tag_FrameA_Orgin, 40>;

// Default-initialised: the pixel arrays are not cleared, so their pages are
// only mapped once a picture is written into them.
RingBuffer::RingBuffer() : buffers(new tag_FrameV_Orgin[kSlots])
{
    // Slot 0 on top: a fresh queue hands out slot 0 first.
    for (int i = 0; i < kSlots; ++i)
        freeStack[i] = kSlots - 1 - i;
    freeTop = kSlots;
}

int RingBuffer::indexOf(const tag_FrameV_Orgin* slot) const
{
    if (!slot)
        return -1;
    ptrdiff_t i = slot - buffers.get();
    return i >= 0 && i < kSlots ? int(i) : -1;
}

// Caller holds the lock.
void RingBuffer::freeSlot(int i)
{
    state[i] = State::Free;
    freeStack[freeTop++] = i;
}

// Caller holds the lock. A slot the consumer held across a reset is free
// once the consumer comes back.
void RingBuffer::releaseStaleRead()
{
    if (reading >= 0 && slotGeneration[reading] != generation) {
        freeSlot(reading);
        reading = -1;
    }
}

tag_FrameV_Orgin* RingBuffer::tryGetWriteBuffer()
{
    std::lock_guard<std::mutex> lock(ringLock);
    if (freeTop == 0)
        return nullptr;
    int i = freeStack[--freeTop];
    state[i] = State::Writing;
    slotGeneration[i] = generation;
    lastTaken = i;
    return &buffers[i];
}

void RingBuffer::putWriteBuffer(tag_FrameV_Orgin* slot)
{
    int i = indexOf(slot);
    if (i < 0)
        return;
    bool current;
    {
        std::lock_guard<std::mutex> lock(ringLock);
        if (state[i] != State::Writing)
            return;
        current = slotGeneration[i] == generation;
    }
    // The producer still owns the slot here.
    if (current && onCommit)
        onCommit(*slot);
    std::lock_guard<std::mutex> lock(ringLock);
    if (slotGeneration[i] != generation) {
        freeSlot(i);
        return;
    }
    state[i] = State::Ready;
    ready[(readyHead + readyCount) % kSlots] = i;
    ++readyCount;
    ++committed;
}

void RingBuffer::putWriteBuffer()
{
    int i;
    {
        std::lock_guard<std::mutex> lock(ringLock);
        i = lastTaken;
    }
    if (i >= 0)
        putWriteBuffer(&buffers[i]);
}

void RingBuffer::cancelWriteBuffer(tag_FrameV_Orgin* slot)
{
    int i = indexOf(slot);
    std::lock_guard<std::mutex> lock(ringLock);
    if (i >= 0 && state[i] == State::Writing)
        freeSlot(i);
}

tag_FrameV_Orgin* RingBuffer::tryGetReadBuffer()
{
    std::lock_guard<std::mutex> lock(ringLock);
    releaseStaleRead();
    if (reading >= 0)
        return &buffers[reading];
    if (readyCount == 0)
        return nullptr;
    reading = ready[readyHead];
    readyHead = (readyHead + 1) % kSlots;
    --readyCount;
    state[reading] = State::Reading;
    return &buffers[reading];
}

bool RingBuffer::hasReadyOfChannel(int ch) const
{
    std::lock_guard<std::mutex> lock(ringLock);
    for (int k = 0; k < readyCount; ++k)
        if (buffers[ready[(readyHead + k) % kSlots]].ch == ch)
            return true;
    return false;
}

int RingBuffer::releaseSuperseded(const std::function<void(const tag_FrameV_Orgin&)>& seen)
{
    std::lock_guard<std::mutex> lock(ringLock);
    bool drop[kSlots] = {};
    uint32_t newer = 0;  // channels seen among the newer slots
    int dropped = 0;
    for (int k = readyCount - 1; k >= 0; --k) {
        const int ch = buffers[ready[(readyHead + k) % kSlots]].ch;
        if (ch < 0 || ch >= 32)
            continue;
        drop[k] = newer & (1u << ch);
        newer |= 1u << ch;
        dropped += drop[k] ? 1 : 0;
    }
    if (dropped == 0)
        return 0;
    int kept = 0;
    for (int k = 0; k < readyCount; ++k) {
        const int i = ready[(readyHead + k) % kSlots];
        if (!drop[k]) {
            ready[(readyHead + kept++) % kSlots] = i;
            continue;
        }
        if (seen)
            seen(buffers[i]);
        if (onRelease)
            onRelease(buffers[i]);
        ++released;
        freeSlot(i);
    }
    readyCount = kept;
    return dropped;
}

void RingBuffer::putReadBuffer()
{
    int i;
    {
        std::lock_guard<std::mutex> lock(ringLock);
        releaseStaleRead();
        if (reading < 0)
            return;
        i = reading;
    }
    // The consumer still owns the slot here.
    if (onRelease)
        onRelease(buffers[i]);
    std::lock_guard<std::mutex> lock(ringLock);
    if (reading != i)
        return;
    if (slotGeneration[i] == generation)
        ++released;
    freeSlot(i);
    reading = -1;
}

void RingBuffer::reset()
{
    std::lock_guard<std::mutex> lock(ringLock);
    while (readyCount > 0) {
        freeSlot(ready[readyHead]);
        readyHead = (readyHead + 1) % kSlots;
        --readyCount;
    }
    readyHead = 0;
    ++generation;
}

int RingBuffer::count() const
{
    std::lock_guard<std::mutex> lock(ringLock);
    bool held = reading >= 0 && slotGeneration[reading] == generation;
    return readyCount + (held ? 1 : 0);
}

int RingBuffer::freeCount() const
{
    std::lock_guard<std::mutex> lock(ringLock);
    return freeTop;
}

uint64_t RingBuffer::committedCount() const
{
    std::lock_guard<std::mutex> lock(ringLock);
    return committed;
}

uint64_t RingBuffer::releasedCount() const
{
    std::lock_guard<std::mutex> lock(ringLock);
    return released;
}
