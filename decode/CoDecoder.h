#pragma once
#include <cstddef>
#include <cstdint>

// One compressed frame handed to a decoder, and the decoded result.
// The link fills the input fields; decoders read only add_nal, deinterlace,
// insize, w_org, h_org and inbuff, and write only result, w, h, outsize and
// outbuff. The fields result..evt_ss form the head copied into a video slot.
struct tagNxPacket {
    int32_t result = 0;
    uint32_t time = 0;
    int8_t ch = 0;
    uint8_t now_type = 0;
    int8_t add_nal = 0;
    int32_t w = 0;
    int32_t h = 0;
    int32_t outsize = 0;
    uint8_t evt_rec = 0;
    uint8_t evt_md = 0;
    uint8_t evt_ss = 0;
    uint8_t deinterlace = 0;
    uint8_t misc2 = 0;
    int32_t insize = 0;
    int32_t w_org = 0;
    int32_t h_org = 0;
    const uint8_t* inbuff = nullptr;  // lent for the duration of the call
    uint8_t* outbuff = nullptr;       // owned by the decoder
    int32_t stream_id = 0;
    const uint8_t* raw_ptr = nullptr;
    int32_t raw_size = 0;
    int32_t frame_size = 0;
    float speed = 0.0f;
    uint8_t request_id = 0;
    uint8_t frame_type = 0;
    uint8_t seq = 0;
};

// Base of every decoder, video or audio.
class CoDecoder {
public:
    virtual ~CoDecoder() = default;
    // Prepares the decoder for a decoding kind; the answer is a status.
    virtual int InitDecoder(unsigned kind);
    // Decodes pk's input; true when a picture or PCM block was produced.
    virtual bool Decode(tagNxPacket* pk);
    // Where the next picture may be written instead of the decoder's own
    // buffer (a queue slot), or null; decoders without pictures ignore it.
    virtual void setOutputTarget(uint8_t* target, size_t size) { (void)target, (void)size; }
};
