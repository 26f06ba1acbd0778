#include "decode/IDecoder.h"

#include <algorithm>

#include "decode/CFFmpeg.h"
#include "decode/CMJPEGDecoder.h"
#include "platform/Log.h"

IDecoder::~IDecoder()
{
    vlog("IDecoder dealloc\n");
    releaseAll();
}

void IDecoder::releaseAll()
{
    for (auto& d : m_Decoder) {
        delete d;
        d = nullptr;
    }
}

void IDecoder::setKindOfDecoder(int kind, int8_t count)
{
    count = std::clamp<int8_t>(count, 0, kMaxCh);
    m_CurrentGroup = int8_t(kind);
    releaseAll();
    if (kind == 2) {
        vlog("MAX CH %d", count);
        for (int i = 0; i < count; ++i) {
            m_Decoder[i] = new CFFmpeg();
            m_Decoder[i]->InitDecoder(2);
        }
    } else if (kind == 1) {
        m_Decoder[0] = new CMJPEGDecoder();
        m_Decoder[0]->InitDecoder(2);
    }
    m_CurrentMaxCh = count;
}

CoDecoder** IDecoder::getDecoderAtIndex(int)
{
    return m_Decoder.data();
}
