#include "link/CoNetwork.h"

#include <algorithm>
#include <cstring>

#include "link/IAudioSink.h"
#include "link/AudioDecoders.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"

namespace {

// Copies text into a fixed field, cut to at most maxChars and NUL-ended.
template <size_t N>
void copyField(char (&dst)[N], const char* src, size_t maxChars)
{
    std::memset(dst, 0, N);
    if (!src)
        return;
    size_t n = std::min(std::strlen(src), std::min(maxChars, N - 1));
    std::memcpy(dst, src, n);
}

}  // namespace

CoNetwork::CoNetwork() = default;

CoNetwork::~CoNetwork()
{
    StopThread();
    vlog("CoNetwork dealloc\n");
    if (videoQ)
        videoQ->reset();
    if (audioQ)
        audioQ->reset();
}

void CoNetwork::SetDecoder(int siteModel)
{
    _DecoderV = nullptr;
    _iDecoderV.setKindOfDecoder(siteModel, IDecoder::kMaxCh);
    _DecoderV = _iDecoderV.getDecoderAtIndex(0);
}

CoDecoder* CoNetwork::videoDecoder(int ch) const
{
    if (!_DecoderV || ch < 0 || ch >= IDecoder::kMaxCh)
        return nullptr;
    return _DecoderV[ch];
}

void CoNetwork::SetADecoder(uint32_t group)
{
    deleteADecoder();
    _DecoderA = createAudioDecoder(group);
    if (_DecoderA)
        _DecoderA->InitDecoder(0);
    if (m_waveout)
        m_waveout->SetModelNumNGroup(0, group);
}

void CoNetwork::deleteADecoder()
{
    _DecoderA.reset();
}

void CoNetwork::setNetInfo(char ddnsUse, const char* dvrIp, const char* ddnsId, const char* password, int port,
                           const char* ddnsServer, int ddnsPort, const char* userId, int siteModel)
{
    std::lock_guard<std::mutex> lock(m_siteLock);
    _site.bUseDDNS = int8_t(ddnsUse);
    copyField(_site.dvrip, dvrIp, 255);
    copyField(_site.ddnsId, ddnsId, 16);
    copyField(_site.userPass, password, 15);
    copyField(_site.userId, userId, 15);
    _site.dvrPort = port;
    _site.nModelNum = siteModel;
    // The DDNS server and its port belong to the DDNS client only.
    if (_site.bUseDDNS)
        m_DDNS.InitDDNS(_site.ddnsId, ddnsServer, ddnsPort);
}

void CoNetwork::CreateThread()
{
    if (m_thread.joinable())
        return;
    ucThreadExit = 0;
    // Cleared before the start, so a StopThread right after this waits for it.
    m_bIsThreadExitSuccess = false;
    m_thread = std::thread([this] {
        ThreadHandler();
        m_bIsThreadExitSuccess = true;
    });
}

void CoNetwork::StopThread()
{
    m_DDNS.requestStop();
    ucThreadExit = 1;
    if (m_thread.joinable())
        m_thread.join();
    vlog("stopthread ok");
}

tagTSiteInfo CoNetwork::_siteInfo() const
{
    std::lock_guard<std::mutex> lock(m_siteLock);
    return _site;
}

void CoNetwork::set_siteInfo(const tagTSiteInfo& info)
{
    std::lock_guard<std::mutex> lock(m_siteLock);
    _site = info;
    m_covertMask = info.auth_covert;
}

HostLookup::Result CoNetwork::lookupHost(const std::string& host, in_addr* out)
{
    m_bResolving = true;
    HostLookup::Result r = HostLookup::lookup(host, out, [this] { return stopRequested(); });
    m_bResolving = false;
    return r;
}

void CoNetwork::setAuthMasks(uint32_t auth, uint32_t covert)
{
    std::lock_guard<std::mutex> lock(m_siteLock);
    _site.auth_mask = auth;
    _site.auth_covert = covert;
    m_covertMask = covert;
}
