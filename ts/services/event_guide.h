// The guide (rivulet/guide.h) as a reader of a run's table decoder: any
// driver that reads an input can gather the guide in the same pass.
#ifndef RIVULET_EVENT_GUIDE_H
#define RIVULET_EVENT_GUIDE_H

#include "rivulet/guide.h"
#include "ts/tables/table_decoder.h"

namespace rivulet {

// An empty guide (TS_Guide_Free frees it); null when memory is short.
TS_Guide* guideCreate();
// The guide takes the EIT (with `other`, of other streams too) and the SDT
// actual from `decoder`; 0, or -1 when its subscriptions are full.
int32_t guideSubscribe(TS_Guide* guide, TableDecoder* decoder, bool other);
// Once the input is read: its events in order.
void guideFinish(TS_Guide* guide);
// Memory ran short while it gathered: events are missing.
bool guideFailed(const TS_Guide* guide);

}  // namespace rivulet

#endif
