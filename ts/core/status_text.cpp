// Words for every status a toolkit function returns, by the family that
// gives the code its meaning.
#include <cstddef>

#include "rivulet/common.h"

namespace {

struct StatusWords {
    uint8_t u8Family;
    int32_t n32Status;
    const char* strText;
};

// Driver words serve every family that does not give a code a meaning of its own.
constexpr StatusWords kWords[] = {
    {TS_STATUS_DRIVER, 0, "ok"},
    {TS_STATUS_DRIVER, -1, "a required argument is null"},
    {TS_STATUS_DRIVER, TS_ERR_OPEN_INPUT, "input cannot be opened"},
    {TS_STATUS_DRIVER, TS_ERR_OPEN_OUTPUT, "output file cannot be opened"},
    {TS_STATUS_DRIVER, TS_ERR_WRITE, "a write failed or came up short"},
    {TS_STATUS_DRIVER, TS_ERR_NAME_TOO_LONG, "file name too long"},
    {TS_STATUS_DRIVER, TS_ERR_TABLE_FULL, "too many PMT runs or distinct PMTs"},
    {TS_STATUS_DRIVER, TS_ERR_READ, "input cannot be read"},
    {TS_STATUS_DRIVER, TS_ERR_NO_PROGRAM, "no PAT announced a program asked for"},
    {TS_STATUS_DRIVER, TS_ERR_INTERRUPTED, "stopped on request; outputs hold whole packets"},
    {TS_STATUS_DRIVER, TS_ERR_NO_PACKETS, "no transport stream packets in the input"},
    {TS_STATUS_DRIVER, TS_ERR_NO_MEMORY, "out of memory"},
    {TS_STATUS_DRIVER, TS_ERR_BAD_OPTION, "an option's value cannot be read"},
    {TS_STATUS_PMT_CHANGE, TS_ERR_NOT_SINGLE_PROGRAM, "not a single-program stream"},
    {TS_STATUS_PMT_CHANGE, TS_ERR_PMT_SPLIT_OPEN_OUTPUT, "output file cannot be opened"},
    {TS_STATUS_REASSEMBLY, TS_SECTION_COMPLETE, "a whole section lies in the slot"},
    {TS_STATUS_REASSEMBLY, TS_ERR_CONTINUITY_WRAP, "continuity counter did not wrap to 0"},
    {TS_STATUS_REASSEMBLY, TS_ERR_CONTINUITY, "continuity counter out of step"},
    {TS_STATUS_REASSEMBLY, TS_ERR_SECTION_SHORT, "section too short"},
    {TS_STATUS_REASSEMBLY, TS_ERR_SECTION_LONG, "section longer than the slot"},
    {TS_STATUS_REASSEMBLY, TS_ERR_SECTION_TRUNCATED, "section cut short by a new one"},
    {TS_STATUS_PARSER, -2, "no sync byte, no adaptation field, another descriptor tag, or too many PAT entries"},
    {TS_STATUS_VERIFY, TS_ERR_NOT_COMPLETE, "section not complete"},
    {TS_STATUS_VERIFY, TS_ERR_TABLE_ID, "wrong table_id"},
    {TS_STATUS_VERIFY, TS_ERR_CRC, "CRC_32 mismatch"},
};

const char* find(uint8_t family, int32_t status) {
    for (const StatusWords& words : kWords) {
        if (words.u8Family == family && words.n32Status == status) return words.strText;
    }
    return nullptr;
}

}  // namespace

const char* TS_StatusTextOf(uint8_t family, int32_t status) {
    const char* own = find(family, status);
    const char* driver = find(TS_STATUS_DRIVER, status);
    return own ? own : driver ? driver : "unknown status";
}

const char* TS_StatusText(int32_t status) { return TS_StatusTextOf(TS_STATUS_DRIVER, status); }
