#include "output/RingBuffer.h"

// The queues are templates; this unit pins their instantiation.
template class SlotQueue<tag_FrameV_Orgin, 5>;
template class SlotQueue<tag_FrameA_Orgin, 40>;
