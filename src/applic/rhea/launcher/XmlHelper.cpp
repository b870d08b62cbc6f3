#include "XmlHelper.h"

#include "Common/Exception.h"
#include "Platform/SystemError.h"
#include "Platform/SystemMessage.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace Tav {

namespace {

const char* const sourceFile = "XmlHelper.cpp";

std::string Format(const char* format, auto... args)
{
    const int length = std::snprintf(nullptr, 0, format, args...);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

// The 1-based line holding byte `offset` and that line's text.
void LocateOffset(const char* data, size_t size, size_t offset, int& line, std::string& text)
{
    if (offset > size)
        offset = size;
    line = 1;
    size_t lineStart = 0;
    for (size_t i = 0; i < offset; ++i) {
        if (data[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    size_t lineEnd = lineStart;
    while (lineEnd < size && data[lineEnd] != '\n' && data[lineEnd] != '\r')
        ++lineEnd;
    text.assign(data + lineStart, lineEnd - lineStart);
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

CComError::CComError(uint32_t code) : std::runtime_error(GetSystemErrorText(code)), code(code) {}

std::string GetSystemErrorText(uint32_t code)
{
    std::string text;
    if (!Platform::FindSystemMessage(code, text))
        return Format("Unknown error 0x%08X", code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::unique_ptr<pugi::xml_document> LoadXmlDocument(const std::string& path)
{
    std::string content;
    int error = 0;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char chunk[65536];
        size_t read;
        while ((read = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            content.append(chunk, read);
        if (std::ferror(file))
            error = errno != 0 ? errno : EIO; // a directory opens but cannot be read
        std::fclose(file);
    } else {
        error = errno != 0 ? errno : ENOENT;
    }
    if (error != 0) {
        const std::string reason =
            GetSystemErrorText(Platform::HresultFromWin32(Platform::SystemErrorFromErrno(error)));
        const std::string message = Format("Error when loading XML file %s: '%s'", path.c_str(), reason.c_str());
        throw CCommonException(0xCEF00001, 43, sourceFile, message.c_str());
    }
    return LoadXmlDocumentFromBuffer(content.data(), content.size(), path);
}

std::unique_ptr<pugi::xml_document> LoadXmlDocumentFromBuffer(const void* data, size_t size,
                                                              const std::string& path)
{
    auto document = std::make_unique<pugi::xml_document>();
    const pugi::xml_parse_result result = document->load_buffer(data, size, pugi::parse_default);
    if (!result) {
        int line = 0;
        std::string text;
        LocateOffset(static_cast<const char*>(data), size, static_cast<size_t>(result.offset), line, text);
        const std::string message = Format("Error when loading XML file %s: '%s', line %d (%s)", path.c_str(),
                                           result.description(), line, text.c_str());
        throw CCommonException(0xCEF00001, 33, sourceFile, message.c_str());
    }
    return document;
}

pugi::xml_node GetRootElement(const pugi::xml_document& document)
{
    pugi::xml_node root = document.document_element();
    if (!root)
        throw CCommonException(0xCEF00001, 59, sourceFile, "Error in XML file: There is no root element.");
    return root;
}

pugi::xml_node SelectSingleNode(const pugi::xml_node& context, const char* xpath)
{
    try {
        return context.select_node(xpath).node();
    } catch (const pugi::xpath_exception& e) {
        const std::string message = Format("Error accessing XML file: '%s'", e.what());
        throw CCommonException(0xCEF00001, 66, sourceFile, message.c_str());
    }
}

std::vector<pugi::xml_node> GetElementsByTagName(const pugi::xml_node& parent, const char* tag)
{
    std::vector<pugi::xml_node> elements;
    // Depth-first, pre-order: document order, without recursion so that a
    // deeply nested file cannot exhaust the stack.
    pugi::xml_node node = parent.first_child();
    while (node) {
        if (node.type() == pugi::node_element && std::strcmp(node.name(), tag) == 0)
            elements.push_back(node);
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && node != parent && !node.next_sibling())
            node = node.parent();
        if (!node || node == parent)
            break;
        node = node.next_sibling();
    }
    return elements;
}

bool GetAttribute(const pugi::xml_node& element, const char* name, std::string& value)
{
    pugi::xml_attribute attribute = element.attribute(name);
    if (!attribute)
        return false;
    value = attribute.value();
    return true;
}

int ToInteger(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const size_t digitsStart = i;
    long long value = 0;
    bool overflow = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            overflow = true, value = static_cast<long long>(INT_MAX) + 1;
        ++i;
    }
    const size_t digitsEnd = i;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (digitsStart == digitsEnd || i != text.size())
        throw CComError(0x80020005u);
    if (negative)
        value = -value;
    if (overflow || value > INT_MAX || value < INT_MIN)
        throw CComError(0x8002000Au);
    return static_cast<int>(value);
}

} // namespace Tav
