#include "decode/Cls_R2AdoDec.h"

Cls_R2AdoDec::~Cls_R2AdoDec() = default;

void Cls_R2AdoDec::Init() {}

void Cls_R2AdoDec::SetSrcData(const void*, unsigned long)
{
    src_empty = 0;
}

void Cls_R2AdoDec::SetDestBuf(void*, unsigned long)
{
    dst_buf_full = 0;
}

unsigned long Cls_R2AdoDec::Decode()
{
    return 0;
}
