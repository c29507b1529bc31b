// What a service watch knows of a program, as text: its names decoded to
// UTF-8, its type, its present event; and names compared as users type them.
#ifndef RIVULET_SERVICE_NAMES_H
#define RIVULET_SERVICE_NAMES_H

#include <string>

#include "rivulet/ts.h"

namespace rivulet::tool {

struct ServiceTexts {
    std::string name;      // the service name; "" when nothing describes the program
    std::string provider;
    std::string type;      // "tv", "radio", "data"; "" when not known
    std::string channel;   // an ATSC virtual channel's "major.minor", else ""
    std::string event;     // the present event's title
    std::string eventId;   // its event_id, in decimal
    std::string start;     // its start, "YYYYMMDD-HHMM"
    std::string end;       // its end, the same way
    std::string duration;  // its length, "HHMM"
};

ServiceTexts serviceTexts(const TS_ServiceFacts& facts);
const char* serviceTypeName(uint8_t type);  // TS_SERVICE_... as "tv", "radio", "data", or ""
// The program's streams, e.g. "h264 video; mp2 audio (ita); dvb subtitles (ita)".
std::string streamSummary(const TS_ServiceFacts& facts);
// Whether `wanted` names the service: its name or its virtual channel's
// number, ignoring case and blanks ("rai 1" and "RAI1" name "Rai 1").
bool namesService(const ServiceTexts& service, const std::string& wanted);

}  // namespace rivulet::tool

#endif
