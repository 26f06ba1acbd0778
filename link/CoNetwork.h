#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "decode/CoDecoder.h"
#include "decode/IDecoder.h"
#include "link/CDDNS.h"
#include "link/CNetDef.h"
#include "link/HostLookup.h"

class INetView;
class INetController;
class IAudioSink;
class RingBuffer;
class RingBufferA;
struct tag_FrameV_Orgin;

// Base of the link objects: site values, worker thread, socket, decoders,
// the borrowed frame queues and the upward interfaces.
class CoNetwork {
public:
    CoNetwork();
    virtual ~CoNetwork();
    CoNetwork(const CoNetwork&) = delete;
    CoNetwork& operator=(const CoNetwork&) = delete;

    // Wiring, on the GUI thread before CreateThread. No ownership is taken.
    virtual void setAppController(INetController* main) { _pMain = main; }
    void setAudioOutPointer(IAudioSink* out) { m_waveout = out; }
    void setQpointerV(RingBuffer* q) { videoQ = q; }
    void setQpointerA(RingBufferA* q) { audioQ = q; }
    void setViewPointer(INetView* view) { m_pView = view; }
    void SetDecoder(int siteModel);
    void SetADecoder(uint32_t group);
    void deleteADecoder();
    void setNetInfo(char ddnsUse, const char* dvrIp, const char* ddnsId, const char* password, int port,
                    const char* ddnsServer, int ddnsPort, const char* userId, int siteModel);

    // Starts the worker; StopThread asks it to end and joins it.
    void CreateThread();
    void StopThread();
    bool IsConnectDVR() const { return m_bConnect.load(); }
    bool isThreadExitDone() const { return m_bIsThreadExitSuccess.load(); }
    uint32_t state() const { return m_dwState.load(); }
    // True while the worker waits for a host name to resolve.
    bool isResolving() const { return m_bResolving.load(); }

    // The DDNS client; its waits can be shortened by tests before the start.
    CDDNS& ddns() { return m_DDNS; }

    tagTSiteInfo _siteInfo() const;
    void set_siteInfo(const tagTSiteInfo& info);

    // Echo counter read and cleared by the watchdog; 0 for links without echo.
    virtual int GetEchoCount() const { return 0; }
    virtual void SetEchoCount(int) {}

protected:
    // Worker body of the subclass.
    virtual void ThreadHandler() {}
    bool stopRequested() const { return ucThreadExit.load(std::memory_order_relaxed) != 0; }
    CoDecoder* videoDecoder(int ch) const;
    void setAuthMasks(uint32_t auth, uint32_t covert);
    // Resolves host for the worker; ends early when the link is told to stop.
    HostLookup::Result lookupHost(const std::string& host, in_addr* out);

    std::atomic<uint8_t> ucThreadExit{0};
    mutable std::mutex m_siteLock;  // guards _site against the GUI thread
    tagTSiteInfo _site;
    std::atomic<uint32_t> m_dwState{0};
    std::atomic<bool> m_bConnectDDns{false};
    std::atomic<bool> m_bConnect{false};
    std::atomic<bool> m_bResolving{false};
    std::atomic<bool> m_bIsThreadExitSuccess{true};
    CDDNS m_DDNS;
    std::atomic<uint32_t> m_covertMask{0};
    int hClientSocket = -1;
    INetView* m_pView = nullptr;
    bool bIsFirstVideoData = false;
    RingBufferA* audioQ = nullptr;
    RingBuffer* videoQ = nullptr;
    tagNxPacket _pk;
    IDecoder _iDecoderV;
    CoDecoder** _DecoderV = nullptr;
    std::unique_ptr<CoDecoder> _DecoderA;
    INetController* _pMain = nullptr;
    IAudioSink* m_waveout = nullptr;

private:
    std::thread m_thread;
};
