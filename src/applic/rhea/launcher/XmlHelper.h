#pragma once

// Access to XML documents: loading with precise parse errors, the root
// element, XPath selection, descendants by tag name and attributes that
// tell a missing attribute from an empty one.

#include <pugixml.hpp>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace Tav {

// A conversion or access failure that carries a system error code; its text
// is the system's message for that code.
class CComError : public std::runtime_error {
public:
    explicit CComError(uint32_t code);
    uint32_t GetCode() const { return code; }

private:
    uint32_t code;
};

// The system text for `code` without its trailing line break.
std::string GetSystemErrorText(uint32_t code);

// Reads and parses the whole file. A file that cannot be read raises
// 0xCEF00001 (line 43) with the system's reason; a parse error raises
// 0xCEF00001 (line 33) with the parser's reason, the 1-based line of the
// error and that line's text.
std::unique_ptr<pugi::xml_document> LoadXmlDocument(const std::string& path);
// As LoadXmlDocument, from bytes in memory; `path` names them in errors.
std::unique_ptr<pugi::xml_document> LoadXmlDocumentFromBuffer(const void* data, size_t size,
                                                              const std::string& path);

// Raises 0xCEF00001 (line 59) when the document has no element.
pugi::xml_node GetRootElement(const pugi::xml_document& document);

// The first node `xpath` selects from `context`, or an empty node. An
// invalid expression raises 0xCEF00001 (line 66).
pugi::xml_node SelectSingleNode(const pugi::xml_node& context, const char* xpath);

// Every element below `parent` (any depth, document order) named `tag`.
std::vector<pugi::xml_node> GetElementsByTagName(const pugi::xml_node& parent, const char* tag);

// False when the attribute is absent; `value` is then left as it was.
bool GetAttribute(const pugi::xml_node& element, const char* name, std::string& value);

// A decimal integer with optional sign and surrounding blanks. Anything
// else raises CComError 0x80020005 ("Type mismatch."), a value outside the
// 32-bit range CComError 0x8002000A.
int ToInteger(const std::string& text);

} // namespace Tav
