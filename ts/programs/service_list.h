// The services an SDT actual section lists, read from its bytes: for each
// service loop entry, its service descriptor (tag 0x48).
#ifndef RIVULET_SERVICE_LIST_H
#define RIVULET_SERVICE_LIST_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "rivulet/services.h"
#include "ts/section/eit_present.h"
#include "ts/section/sdt.h"

namespace rivulet {

// Whether an original_network_id is one of ARIB's (ISDB): its text is ARIB
// STD-B24, not DVB's.
bool isISDBNetwork(uint16_t network);

// An EIT's present event as the public record has it, its title's text
// told by the network.
TS_ServiceEvent serviceEventOf(const PresentEvent& present);

// The service of `serviceId` in `services`, or null.
const TS_ServiceInfo* findService(const TS_ServiceList& services, uint16_t serviceId);

// Copies the name of service `serviceId` (as broadcast) into `name`, and its
// length into `*length`; leaves both as they are when the list lacks it.
void copyServiceName(const TS_ServiceList& services, uint16_t serviceId, uint8_t* length, uint8_t* name);

// Updates `services` with every service of the verified SDT actual section
// in `slot`; notes an ISDB stream by its original_network_id.
void addSDTServices(TS_ServiceList* services, const TS_PreSection& slot);

}  // namespace rivulet

#endif
