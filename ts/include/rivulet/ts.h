// Rivulet MPEG-2 transport stream toolkit: the one header a caller includes.
//
// Plain records that mirror the syntax of ISO/IEC 13818-1, and plain functions
// over them. Every function returns a signed 32-bit status: 0 for success, -1
// for a null required pointer, and further negative codes (rivulet/common.h;
// TS_StatusText puts them into words). The toolkit throws nothing; every
// array has a fixed, named capacity and every parser stays inside the bytes
// it was given. The parsers, printers and stream contexts allocate nothing;
// the drivers, the split engine, the service watch and the check allocate
// their buffers when they start (and return TS_ERR_NO_MEMORY when they
// cannot), never per packet.
//
// The interface by topic, each header the documentation of its own:
//   rivulet/common.h            capacities, status codes, stop and progress
//   rivulet/packets_sections.h  packets, adaptation fields, section reassembly
//   rivulet/descriptors.h       the seventeen descriptors and the name tables
//   rivulet/tables.h            CRC-32, PAT, PMT, CAT, private sections, EMM, PCR
//   rivulet/video.h             random access points: where a decoder can start
//   rivulet/stream_walk.h       stream contexts for callers that walk a stream
//   rivulet/split.h             the split engine, runs, extraction, split report
//   rivulet/services.h          program list, service list, service watch
//   rivulet/check.h             the stream check
//   rivulet/drivers.h           the stream dump and the PMT-change tools
//   rivulet/file_split.h        the file split's historical records and globals
#ifndef RIVULET_TS_H
#define RIVULET_TS_H

#include "rivulet/common.h"
#include "rivulet/packets_sections.h"
#include "rivulet/descriptors.h"
#include "rivulet/tables.h"
#include "rivulet/video.h"
#include "rivulet/stream_walk.h"
#include "rivulet/split.h"
#include "rivulet/services.h"
#include "rivulet/check.h"
#include "rivulet/drivers.h"
#include "rivulet/file_split.h"
#include "rivulet/guide.h"

#endif  // RIVULET_TS_H
