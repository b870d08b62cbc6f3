#include "Platform/MessageCatalog.h"

#include "Platform/ProcessInfo.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace Tav::Platform {

namespace {

std::string CatalogFileName(const std::string& resourceName)
{
    std::string base = resourceName;
    size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos)
        base = base.substr(slash + 1);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos)
        base = base.substr(0, dot);
    return base + ".msg";
}

std::string Unescape(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            switch (c) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case '\\': out += '\\'; break;
            default: out += '\\'; out += c; break;
            }
        } else {
            out += s[i];
        }
    }
    return out;
}

std::mutex cacheMutex;
std::map<std::string, std::shared_ptr<const MessageCatalog>> cache;

} // namespace

std::vector<std::string> MessageCatalog::CandidatePaths(const char* resourceName)
{
    std::vector<std::string> paths;
    if (!resourceName || !*resourceName)
        return paths;
    std::string name(resourceName);
    std::string file = CatalogFileName(name);
    if (name.find('/') != std::string::npos) {
        // An explicit path keeps its directory.
        paths.push_back(name.substr(0, name.rfind('/') + 1) + file);
        return paths;
    }
    const std::vector<std::string> directories = GetDataDirectories();
    paths.push_back(directories.front() + "/" + file);
    if (const char* dir = std::getenv("TAV_MESSAGE_DIR"); dir && *dir)
        paths.push_back(std::string(dir) + "/" + file);
    // Installed: in the data directory's messages folder.
    for (size_t i = 1; i < directories.size(); ++i)
        paths.push_back(directories[i] + "/messages/" + file);
    paths.push_back(file);
    return paths;
}

std::shared_ptr<const MessageCatalog> MessageCatalog::Parse(const std::string& text)
{
    auto catalog = std::make_shared<MessageCatalog>();
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        size_t end = line.find_first_of(" \t", start);
        std::string codeText = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
        char* stop = nullptr;
        unsigned long long code = std::strtoull(codeText.c_str(), &stop, 16);
        if (codeText.size() < 3 || codeText.compare(0, 2, "0x") != 0 || *stop != '\0' || code > 0xFFFFFFFFull) {
            ++catalog->malformed;
            continue;
        }
        std::string body;
        if (end != std::string::npos) {
            size_t textStart = line.find_first_not_of(" \t", end);
            if (textStart != std::string::npos)
                body = line.substr(textStart);
        }
        catalog->messages[static_cast<uint32_t>(code)] = Unescape(body);
    }
    return catalog;
}

std::shared_ptr<const MessageCatalog> MessageCatalog::Load(const char* resourceName)
{
    if (!resourceName || !*resourceName)
        return nullptr;
    std::lock_guard<std::mutex> guard(cacheMutex);
    if (auto it = cache.find(resourceName); it != cache.end())
        return it->second;
    for (const std::string& path : CandidatePaths(resourceName)) {
        std::ifstream file(path, std::ios::binary);
        if (!file)
            continue;
        std::ostringstream content;
        content << file.rdbuf();
        auto catalog = Parse(content.str());
        cache[resourceName] = catalog;
        return catalog;
    }
    return nullptr;
}

const std::string* MessageCatalog::Find(uint32_t code) const
{
    auto it = messages.find(code);
    return it == messages.end() ? nullptr : &it->second;
}

} // namespace Tav::Platform
