#pragma once

#include <string>
#include <vector>

namespace Tav {

// A command line as white-space separated tokens. Quotes have no meaning.
class CCommandLine {
public:
    explicit CCommandLine(const std::string& text);
    CCommandLine(int argc, const char* const* argv);

    bool HasOption(const std::string& option) const;
    // The token after the last occurrence of `option` that is followed by a
    // token without any '-'; empty when none qualifies.
    std::string GetOptionValue(const std::string& option) const;

    const std::vector<std::string>& GetTokens() const { return tokens; }

private:
    void Split(const std::string& text);

    std::vector<std::string> tokens;
};

} // namespace Tav
