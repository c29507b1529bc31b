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
void addSDTServices(TS_ServiceList* services, const TS_PreSection& slot);

}  // namespace rivulet

#endif
