#pragma once

#include <string>

namespace TavTest {

// A fresh empty directory for one test; removed by the caller or left in /tmp.
std::string MakeTempDirectory();

// Writes `content` to `path`; fails the test on error.
void WriteFile(const std::string& path, const std::string& content);

} // namespace TavTest
