// The services an SDT actual section lists, read from its bytes: for each
// service loop entry, its service descriptor (tag 0x48).
#ifndef RIVULET_SERVICE_LIST_H
#define RIVULET_SERVICE_LIST_H

#include <cstdint>

#include "rivulet/ts.h"
#include "ts/section/sdt.h"

namespace rivulet {

// Updates `services` with every service of the verified SDT actual section
// in `slot`; notes an ISDB stream by its original_network_id.
// Whether an original_network_id is one of ARIB's (ISDB): its text is ARIB
// STD-B24, not DVB's.
bool isISDBNetwork(uint16_t network);

void addSDTServices(TS_ServiceList* services, const TS_PreSection& slot);

}  // namespace rivulet

#endif
