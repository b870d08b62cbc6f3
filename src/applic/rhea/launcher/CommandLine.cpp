#include "CommandLine.h"

#include <cctype>

namespace Tav {

CCommandLine::CCommandLine(const std::string& text)
{
    Split(text);
}

CCommandLine::CCommandLine(int argc, const char* const* argv)
{
    // Re-joined and split again: an argument with blanks falls into several
    // tokens, as the launcher has always read its command line.
    std::string text;
    for (int i = 0; i < argc; ++i) {
        if (i)
            text += ' ';
        text += argv[i] ? argv[i] : "";
    }
    Split(text);
}

void CCommandLine::Split(const std::string& text)
{
    std::string current;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!current.empty()) {
                tokens.push_back(current);
                current.clear();
            }
        } else {
            current += c;
        }
    }
    if (!current.empty())
        tokens.push_back(current);
}

bool CCommandLine::HasOption(const std::string& option) const
{
    for (const std::string& t : tokens)
        if (t == option)
            return true;
    return false;
}

std::string CCommandLine::GetOptionValue(const std::string& option) const
{
    std::string value;
    for (size_t i = 0; i + 1 < tokens.size(); ++i)
        if (tokens[i] == option && tokens[i + 1].find('-') == std::string::npos)
            value = tokens[i + 1];
    return value;
}

} // namespace Tav
