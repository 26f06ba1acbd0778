#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

class INetController;

// DDNS lookup client: asks a DDNS server for a device's current address and
// port by the device's DDNS id. One lookup is ConnectToDDns (connect, wait
// for the greeting, command 42) then LoginToDDns (request 97, answer 98).
// Frames are the recorder's command frames: V2 when the server port is
// 17000, V1 otherwise. Runs on the link's worker thread; other threads only
// set the stop flag, which ends every wait.
class CDDNS {
public:
    static constexpr int kV2Port = 17000;
    static constexpr int kCmdGreeting = 42;
    static constexpr int kCmdRequest = 97;
    static constexpr int kCmdAnswer = 98;
    static constexpr int kRequestPayload = 40;
    static constexpr int kAnswerFields = 100;  // payload bytes that count

    // Waits in milliseconds; tests shorten them.
    struct Timing {
        int connectWaitMs = 500;   // each of the connect waits
        int connectWaits = 15;
        int greetingMs = 5000;     // for the whole greeting
        int answerDeadlineMs = 10000;  // request sent and answer whole, from
                                       // the request on; bytes do not extend it
    };

    CDDNS() = default;
    ~CDDNS();
    CDDNS(const CDDNS&) = delete;
    CDDNS& operator=(const CDDNS&) = delete;

    void InitDDNS(const char* webcode, const char* ddnsIp, int ddnsPort);
    // Connects and checks the greeting; main gets the progress texts.
    bool ConnectToDDns(INetController* main);
    // Sends the request and reads the answer; always closes the socket.
    bool LoginToDDns();
    void requestStop() { m_ucThreadExit = 1; }
    bool stopRequested() const { return m_ucThreadExit.load() != 0; }

    // What the last successful lookup found.
    const char* dvrIp() const { return m_dvrIp; }
    int dvrPort() const { return m_nDVRPort; }
    const char* ddnsIp() const { return m_ddnsIp; }
    int ddnsPort() const { return m_ddnsPort; }
    const char* webcode() const { return m_webcode; }

    Timing timing;

    // Request frame (command 97) for this server into out; its length, or 0.
    int buildRequest(uint8_t* out, size_t cap) const;
    // Whether the bytes received so far end with a whole command frame.
    static bool frameComplete(const uint8_t* data, int len);
    // Command id at frame positions 4 and 6 (low byte first); -1 if short.
    static int commandId(const uint8_t* data, int len);
    // Reads a whole answer frame. On success the device address is written
    // into ip as dotted text and its port into port.
    static bool readAnswer(const uint8_t* frame, int len, char* ip, size_t ipCap, int* port);

private:
    // Sends all of data unless the stop or the deadline (ms from start) comes first.
    bool sendAll(const uint8_t* data, int len, std::chrono::steady_clock::time_point start, int64_t deadlineMs);
    void closeSocket();

    int m_sockDDns = -1;
    int m_nDVRPort = 0;
    char m_ddnsIp[512] = {};
    int m_ddnsPort = 0;
    char m_webcode[20] = {};
    char m_dvrIp[512] = {};
    std::atomic<uint8_t> m_ucThreadExit{0};
};
