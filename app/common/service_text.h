// Names from the service information as UTF-8: DVB text (ETSI EN 300 468
// Annex A) through iconv, ISDB text (ARIB STD-B24) through libaribb24.
#ifndef RIVULET_SERVICE_TEXT_H
#define RIVULET_SERVICE_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace rivulet::tool {

// Bytes that do not decode become U+FFFD; any byte string is safe.
std::string dvbText(const uint8_t* bytes, size_t size);
std::string aribText(const uint8_t* bytes, size_t size);
// UTF-16BE, as ATSC's short channel names are written.
std::string utf16Text(const uint8_t* bytes, size_t size);
// Text of the kind `text` names (TS_TEXT_DVB, TS_TEXT_ARIB or TS_TEXT_UTF16).
std::string textOf(uint8_t text, const uint8_t* bytes, size_t size);

}  // namespace rivulet::tool

#endif
