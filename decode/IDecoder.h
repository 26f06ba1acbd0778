#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "decode/CoDecoder.h"

// The per-channel set of video decoders, built from the site model.
class IDecoder {
public:
    static constexpr int kMaxCh = 16;
    IDecoder() = default;
    ~IDecoder();
    IDecoder(const IDecoder&) = delete;
    IDecoder& operator=(const IDecoder&) = delete;

    // Rebuilds the set: kind 2 gives count H.264 decoders, kind 1 one intra
    // slice decoder in slot 0, any other kind none.
    void setKindOfDecoder(int kind, int8_t count);
    // The base of the 16-slot array, whatever the index.
    CoDecoder** getDecoderAtIndex(int index);

    int8_t currentGroup() const { return m_CurrentGroup; }
    int8_t currentMaxCh() const { return m_CurrentMaxCh; }

private:
    void releaseAll();
    std::array<CoDecoder*, kMaxCh> m_Decoder{};
    int8_t m_CurrentGroup = 0;
    int8_t m_CurrentMaxCh = 0;
};
