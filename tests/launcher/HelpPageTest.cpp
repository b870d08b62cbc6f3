#include "Platform/ProcessInfo.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <set>
#include <string>

// The page as installed next to the executable: well-formed, and every link
// leads to a section of the page itself (it is opened offline).
TEST(HelpPage, WellFormedAndEveryLinkLeadsToASection)
{
    const std::string path = Tav::Platform::ExecutableDirectory() + "/Launcher_Help.html";
    pugi::xml_document page;
    pugi::xml_parse_result result = page.load_file(path.c_str());
    ASSERT_TRUE(result) << path << ": " << result.description() << " at offset " << result.offset;

    std::set<std::string> ids;
    for (const pugi::xpath_node& node : page.select_nodes("//*[@id]"))
        EXPECT_TRUE(ids.insert(node.node().attribute("id").value()).second) << node.node().attribute("id").value();
    const pugi::xpath_node_set links = page.select_nodes("//*[@href]");
    EXPECT_GT(links.size(), 10u);
    for (const pugi::xpath_node& node : links) {
        const std::string target = node.node().attribute("href").value();
        EXPECT_TRUE(target.size() > 1 && target[0] == '#' && ids.count(target.substr(1))) << "broken link " << target;
    }
    EXPECT_TRUE(page.select_nodes("//*[@src]").empty()) << "the page loads nothing from elsewhere";
}
