// Text that every reader of the tools' SVG and JSON accepts: only the
// characters XML 1.0 allows. Service names as broadcast can hold U+FFFE,
// U+FFFF or control characters, which no XML viewer takes.
#ifndef RIVULET_XML_TEXT_H
#define RIVULET_XML_TEXT_H

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace rivulet {

// `utf8` without the characters XML 1.0 does not allow (controls but tab,
// line feed and carriage return; surrogates; U+FFFE and U+FFFF); a byte that
// does not decode becomes U+FFFD.
std::string xmlAllowed(std::string_view utf8);

// The document as indented JSON, each of its strings (keys too) kept to
// what XML allows.
std::string jsonText(const nlohmann::ordered_json& document);

}  // namespace rivulet

#endif
