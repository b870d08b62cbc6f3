#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace TavTest {

std::string MakeTempDirectory()
{
    char pattern[] = "/tmp/tav-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    EXPECT_NE(dir, nullptr);
    return dir ? dir : "/tmp";
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    ASSERT_TRUE(out.good()) << path;
    out << content;
}

} // namespace TavTest
