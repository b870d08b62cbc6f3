#include "Platform/ProcessInfo.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <set>
#include <string>

namespace {

// The page as installed next to the executable, parsed as XHTML.
class HelpPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string path = Tav::Platform::ExecutableDirectory() + "/Launcher_Help.html";
        pugi::xml_parse_result result = document.load_file(path.c_str());
        ASSERT_TRUE(result) << path << ": " << result.description() << " at offset " << result.offset;
    }

    template <class F>
    void ForEachElement(F f)
    {
        struct Walker : pugi::xml_tree_walker {
            F& f;
            explicit Walker(F& f) : f(f) {}
            bool for_each(pugi::xml_node& node) override
            {
                if (node.type() == pugi::node_element)
                    f(node);
                return true;
            }
        } walker(f);
        document.traverse(walker);
    }

    pugi::xml_document document;
};

} // namespace

TEST_F(HelpPage, EveryLinkLeadsToASectionOfThePage)
{
    std::set<std::string> ids;
    std::set<std::string> targets;
    ForEachElement([&](pugi::xml_node& node) {
        if (pugi::xml_attribute id = node.attribute("id")) {
            EXPECT_TRUE(ids.insert(id.value()).second) << "id given twice: " << id.value();
        }
        if (pugi::xml_attribute href = node.attribute("href")) {
            const std::string target = href.value();
            ASSERT_FALSE(target.empty());
            EXPECT_EQ(target[0], '#') << "link out of the page: " << target;
            targets.insert(target.substr(1));
        }
    });
    EXPECT_GT(targets.size(), 10u);
    for (const std::string& target : targets)
        EXPECT_TRUE(ids.count(target)) << "no section #" << target;
}

TEST_F(HelpPage, SelfContained)
{
    // Opened from the data folder by any browser, offline: nothing to fetch.
    ForEachElement([&](pugi::xml_node& node) {
        EXPECT_FALSE(node.attribute("src")) << node.name();
        EXPECT_STRNE(node.name(), "link");
        EXPECT_STRNE(node.name(), "script");
        EXPECT_STRNE(node.name(), "img");
    });
}
