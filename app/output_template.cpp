#include "app/output_template.h"

#include <cstdio>
#include <string_view>

namespace rivulet {
namespace {

struct FieldEntry {
    std::string_view name;
    NameField field;
    uint32_t needs;
};

constexpr FieldEntry kFields[] = {
    {"base", NameField::Base, 0},
    {"program", NameField::Program, 0},
    {"dup", NameField::Duplicate, 0},
    {"rev", NameField::Revision, 0},
    {"service", NameField::Service, TS_WATCH_NAMES},
    {"provider", NameField::Provider, TS_WATCH_NAMES},
    {"type", NameField::Type, TS_WATCH_NAMES | TS_WATCH_TYPE},
    {"event", NameField::Event, TS_WATCH_NAMES | TS_WATCH_EVENT},
    {"event_id", NameField::EventId, TS_WATCH_NAMES | TS_WATCH_EVENT},
    {"start", NameField::Start, TS_WATCH_NAMES | TS_WATCH_EVENT},
    {"end", NameField::End, TS_WATCH_NAMES | TS_WATCH_EVENT},
    {"duration", NameField::Duration, TS_WATCH_NAMES | TS_WATCH_EVENT},
};

const FieldEntry* findField(std::string_view name) {
    for (const FieldEntry& entry : kFields) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

// A field that came out empty leaves its separators at an end of the name
// ("Rai News 24 .ts"): blanks and separators at both ends go.
// A leading '.' stays: the name is made safe from it later, visibly.
std::string trimSeparators(const std::string& name) {
    constexpr std::string_view kLeading = " \t_-,;:/";
    constexpr std::string_view kTrailing = " \t_-.,;:/";
    size_t last = name.find_last_not_of(kTrailing);
    if (last == std::string::npos) return "";
    size_t first = name.find_first_not_of(kLeading);
    return name.substr(first, last - first + 1);
}

// The blanks an empty field leaves run together: runs of blanks become one,
// and brackets or parentheses left empty go.
std::string closeGaps(std::string name) {
    for (std::string_view empty : {"[]", "()"}) {
        for (size_t at = name.find(empty); at != std::string::npos; at = name.find(empty)) name.erase(at, empty.size());
    }
    std::string out;
    for (char c : name) {
        const bool blank = c == ' ' || c == '\t';
        if (blank && !out.empty() && (out.back() == ' ' || out.back() == '\t')) continue;
        out += blank ? ' ' : c;
    }
    return out;
}

// A field's value without the blanks at its ends (a title broadcast with a
// trailing blank).
std::string trimmed(const std::string& value) {
    size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool parseTemplate(const std::string& text, OutputTemplate* out, std::string* error) {
    out->pieces.clear();
    out->u32Needs = 0;
    for (size_t at = 0; at < text.size();) {
        size_t open = text.find('{', at);
        if (open != at) {
            size_t end = open == std::string::npos ? text.size() : open;
            out->pieces.push_back({NameField::Text, text.substr(at, end - at)});
            at = end;
            continue;
        }
        size_t close = text.find('}', open);
        if (close == std::string::npos) {
            *error = text.substr(open);
            return false;
        }
        const FieldEntry* entry = findField(std::string_view(text).substr(open + 1, close - open - 1));
        if (!entry) {
            *error = text.substr(open, close - open + 1);
            return false;
        }
        out->pieces.push_back({entry->field, ""});
        out->u32Needs |= entry->needs;
        at = close + 1;
    }
    return true;
}

std::vector<std::string_view> nameFieldNames() {
    std::vector<std::string_view> names;
    for (const FieldEntry& entry : kFields) names.push_back(entry.name);
    return names;
}

std::string expandTemplate(const OutputTemplate& name, const TS_OutputNameRequest& request,
                           const tool::ServiceTexts* service) {
    static const tool::ServiceTexts kNothing;
    const tool::ServiceTexts& s = service ? *service : kNothing;
    std::string out;
    for (const TemplatePiece& piece : name.pieces) {
        switch (piece.field) {
        case NameField::Text: out += piece.text; break;
        case NameField::Base: out += request.strBase; break;
        case NameField::Program: out += std::to_string(request.u16ProgramNumber); break;
        case NameField::Duplicate: out += std::to_string(request.u16Duplicate); break;
        case NameField::Revision: out += std::to_string(request.u64Revision); break;
        case NameField::Service:
            // A name of blanks only names nothing.
            out += s.name.find_first_not_of(" \t") == std::string::npos ? std::to_string(request.u16ProgramNumber)
                                                                         : trimmed(s.name);
            break;
        case NameField::Provider: out += trimmed(s.provider); break;
        case NameField::Type: out += s.type; break;
        case NameField::Event: out += trimmed(s.event); break;
        case NameField::EventId:
            out += request.u8HasEventId ? std::to_string(request.u16EventId) : s.eventId;
            break;
        case NameField::Start: out += s.start; break;
        case NameField::End: out += s.end; break;
        case NameField::Duration: out += s.duration; break;
        }
    }
    return trimSeparators(closeGaps(out));
}

int32_t nameFromTemplate(void* user, const TS_OutputNameRequest* request, char* name, uint32_t size) {
    std::string text = expandTemplate(*static_cast<const OutputTemplate*>(user), *request, nullptr);
    std::snprintf(name, size, "%s", text.c_str());
    return 0;
}

}  // namespace rivulet
