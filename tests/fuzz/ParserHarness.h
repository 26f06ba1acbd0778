#pragma once
// Runs one input (see ParserInput.h) against a recorder link: the received
// bytes through the parser and the command answers, media frames through the
// H.264 (or stand-in) and audio decoders into a real video and audio queue,
// playback paced by a clock the input drives. Every input starts from a new
// link's state. No thread and no waiting: the harness empties the queues
// before each frame and ends a pacing hold that would not end by itself.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace parserfuzz {

struct RunStats {
    int commands = 0;     // commands handed to the command handler
    int frames = 0;       // whole media frames
    int pictures = 0;     // pictures taken out of the video queue
    int audioBlocks = 0;  // blocks taken out of the audio queue
    int readings = 0;     // pacing clock readings
    int unasked = 0;      // answers dropped for want of a request
};

// What decodes the video frames of a run. The stand-in has no codec and no
// state: it answers from the packet alone, a picture for coded bytes that
// hold an H.264 slice and a blue one for a frame without coded bytes, at the
// stated size, into the queue's slot as the H.264 decoder does.
enum class Decoding { h264, standIn };

class ParserHarness {
public:
    ParserHarness();
    ~ParserHarness();
    ParserHarness(const ParserHarness&) = delete;
    ParserHarness& operator=(const ParserHarness&) = delete;

    RunStats run(const uint8_t* data, size_t size, Decoding decoding = Decoding::h264);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace parserfuzz
