// Output names from a template of fields: {base}, {program}, {dup}, {rev}
// from the split, {service}, {provider}, {type}, {event}, {event_id},
// {start}, {end}, {duration} from the service information in force when the
// file begins (a file cut at an event has its event's id from the split).
#ifndef RIVULET_OUTPUT_TEMPLATE_H
#define RIVULET_OUTPUT_TEMPLATE_H

#include <string>
#include <string_view>
#include <vector>

#include "app/common/service_names.h"
#include "rivulet/ts.h"

namespace rivulet {

enum class NameField { Text, Base, Program, Duplicate, Revision, Service, Provider, Type, Event, EventId, Start, End, Duration };

struct TemplatePiece {
    NameField field;
    std::string text;  // of a Text piece
};

struct OutputTemplate {
    std::vector<TemplatePiece> pieces;
    uint32_t u32Needs;  // TS_WATCH_... that its fields wait for
};

// False, with the unknown field or the unclosed brace in `error`, when
// `text` is not a template.
bool parseTemplate(const std::string& text, OutputTemplate* out, std::string* error);
// The names of the fields, in the order the help lists them ("base", ...).
std::vector<std::string_view> nameFieldNames();
// The name of a file; `service` is null when nothing is known of it: then
// {service} is the program number and the other fields of the service
// information are empty, as they are when the service information does not
// give them.
std::string expandTemplate(const OutputTemplate& name, const TS_OutputNameRequest& request,
                           const tool::ServiceTexts* service);

// A TS_OutputNamer for a template of none but the split's own fields
// (`user`: the OutputTemplate).
int32_t nameFromTemplate(void* user, const TS_OutputNameRequest* request, char* name, uint32_t size);

}  // namespace rivulet

#endif
