#pragma once
// A small client of the test recorder for its self-tests: reads V2
// commands and "NDAV" media frames from a real socket, and decodes a
// channel's pictures with the client's own decoder.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#include "decode/CFFmpeg.h"
#include "recorder/Crypto.h"
#include "recorder/Palette.h"
#include "recorder/Protocol.h"
#include "recorder/Wire.h"

namespace rectest {

using namespace testrec;
using std::chrono::milliseconds;

class MiniClient {
public:
    explicit MiniClient(uint16_t port)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~MiniClient() { close(fd_); }
    bool connected() const { return connected_; }
    void send(const Bytes& b) { ASSERT_EQ(::send(fd_, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size())); }

    // Next message: a V2 command (sized by the recorder's answer table) or
    // an "NDAV" media frame.
    struct Message {
        bool media = false;
        uint32_t id = 0;
        Bytes bytes;
    };
    std::optional<Message> next(milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto m = cut())
                return m;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) == 1) {
                uint8_t tmp[65536];
                const ssize_t n = recv(fd_, tmp, sizeof tmp, 0);
                if (n <= 0)
                    return std::nullopt;
                buf_.insert(buf_.end(), tmp, tmp + n);
            }
        }
        return std::nullopt;
    }
    std::optional<Message> nextCommand(uint32_t id, milliseconds timeout)
    {
        for (int i = 0; i < 1000; ++i) {
            auto m = next(timeout);
            if (!m || (!m->media && m->id == id))
                return m;
        }
        return std::nullopt;
    }

private:
    std::optional<Message> take(size_t n, bool media, uint32_t id)
    {
        if (buf_.size() < n)
            return std::nullopt;
        Message m{media, id, Bytes(buf_.begin(), buf_.begin() + long(n))};
        buf_.erase(buf_.begin(), buf_.begin() + long(n));
        return m;
    }
    std::optional<Message> cut()
    {
        if (buf_.size() < 16)
            return std::nullopt;
        if (std::memcmp(buf_.data(), "NDAV", 4) == 0)
            return take(32 + getLe32(&buf_[12]) + 4, true, 0);
        EXPECT_EQ(std::memcmp(buf_.data(), kHeadV2, 4), 0) << hexDump(buf_.data(), buf_.size());
        const uint32_t id = getLe32(&buf_[4]);
        const int size = id == 1 ? 552 : answerPayloadSize(id, 7, 61, 30);
        return take(12 + size_t(size), false, id);
    }

    int fd_ = -1;
    bool connected_ = false;
    Bytes buf_;
};

inline Bytes loginPayload(const std::string& user, const std::string& password)
{
    return expectedLoginRequest(user, password, 30);
}

inline Bytes dataRequest(int id, int kind, uint16_t mask)
{
    Bytes p;
    appendLe32(p, uint32_t(id));
    appendLe32(p, uint32_t(kind));
    for (int i = 0; i < 16; ++i)
        p.push_back((mask >> i) & 1);
    return p;
}

// Decodes a channel as the client does and reads the colour in the middle.
struct Eye {
    CFFmpeg dec;
    int w, h;
    Eye(int width, int height) : w(width), h(height) { EXPECT_EQ(dec.InitDecoder(2), 0); }
    // False when the frame gives no picture.
    bool see(const Bytes& coded, Rgb* seen, bool addNal)
    {
        Bytes buf(coded);
        buf.resize(coded.size() + size_t(CFFmpeg::kPadding), 0);
        tagNxPacket pk;
        pk.inbuff = buf.data();
        pk.insize = int(coded.size());
        pk.add_nal = addNal ? 1 : 0;
        pk.w_org = w;
        pk.h_org = h;
        if (!dec.Decode(&pk))
            return false;
        const uint8_t* p = pk.outbuff + (size_t(pk.h / 2) * size_t(pk.w) + size_t(pk.w / 2)) * 4;
        *seen = {p[2], p[1], p[0]};
        return true;
    }
};


}  // namespace rectest
