#pragma once

// Message catalogs stand in for message-resource libraries. A resource name
// such as "TavCommonError.dll" selects the text file "TavCommonError.msg",
// found next to the executable, else in the directory named by the
// environment variable TAV_MESSAGE_DIR, else in the installed data
// directory's "messages" folder (see GetDataDirectories), else in the
// current directory.
//
// File format (UTF-8): one message a line, "<code> <text>", the code in hex
// with a 0x prefix; '#' starts a comment line; in the text \n, \t and \\ are
// a line break, a tab and a backslash. Texts are printf formats.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace Tav::Platform {

class MessageCatalog {
public:
    // The catalog for `resourceName`, or null when no file can be read.
    // Loaded catalogs are cached for the life of the process.
    static std::shared_ptr<const MessageCatalog> Load(const char* resourceName);

    // Parses catalog text; malformed lines are skipped and counted.
    static std::shared_ptr<const MessageCatalog> Parse(const std::string& text);

    // The file names searched for `resourceName`, in search order.
    static std::vector<std::string> CandidatePaths(const char* resourceName);

    // Null when the catalog has no message for `code`.
    const std::string* Find(uint32_t code) const;

    size_t Size() const { return messages.size(); }
    int MalformedLines() const { return malformed; }
    const std::unordered_map<uint32_t, std::string>& Messages() const { return messages; }

private:
    std::unordered_map<uint32_t, std::string> messages;
    int malformed = 0;
};

} // namespace Tav::Platform
