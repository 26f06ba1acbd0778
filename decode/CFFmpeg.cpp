#include "decode/CFFmpeg.h"

CFFmpeg::CFFmpeg() = default;
CFFmpeg::~CFFmpeg() = default;
int CFFmpeg::InitDecoder(unsigned) { return -1; }
bool CFFmpeg::Decode(tagNxPacket*) { return false; }
bool CFFmpeg::DecodeDummy(tagNxPacket*) { return false; }
