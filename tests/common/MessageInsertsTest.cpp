#include "Common/Exception.h"
#include "Common/Jel/JelException.h"
#include "Common/MessageInserts.h"

#include <gtest/gtest.h>

using namespace Tav;
using namespace Tav::Detail;

namespace {

template <typename... Args>
bool Accepts(const char* format, Args...)
{
    return FormatAccepts(format, InsertKinds<Args...>::values, InsertKinds<Args...>::count);
}

} // namespace

TEST(MessageInserts, ConversionsMustMatchTheInserts)
{
    const char* s = "x";
    EXPECT_TRUE(Accepts("plain text"));
    EXPECT_TRUE(Accepts("100%% sure"));
    EXPECT_TRUE(Accepts("%s at %d, 0x%08lx", s, 3, 7ul));
    EXPECT_TRUE(Accepts("<system error message for error %0x08x could not be found>", 5u));
    EXPECT_TRUE(Accepts("%-10.3f|%c|%p", 1.5, 'a', static_cast<void*>(nullptr)));
    EXPECT_TRUE(Accepts("%p", s));

    EXPECT_FALSE(Accepts("%s"));                    // missing insert
    EXPECT_FALSE(Accepts("done", 1));               // surplus insert
    EXPECT_FALSE(Accepts("%s", 1));                 // number where a string is read
    EXPECT_FALSE(Accepts("%d", s));                 // string where a number is read
    EXPECT_FALSE(Accepts("%ld", 1));                // 32-bit insert for a 64-bit read
    EXPECT_FALSE(Accepts("%d", 1ll));
    EXPECT_FALSE(Accepts("%*d", 1, 2));
    EXPECT_FALSE(Accepts("%n", static_cast<int*>(nullptr)));
    EXPECT_FALSE(Accepts("%ls", s));
    EXPECT_FALSE(Accepts("trailing %", 1));
}

TEST(MessageInserts, ExceptionWithWrongInsertsKeepsTheRawText)
{
    // 0xCEF00001's text is "%s": an integer insert must not be read as a string.
    CCommonException wrong(0xCEF00001, 1, "x.cpp", 42);
    EXPECT_EQ(wrong.GetDescription(), "%s");
    CCommonException missing(0xCEF00001, 1, "x.cpp");
    EXPECT_EQ(missing.GetDescription(), "%s");
}

TEST(JelException, LooksUpCatalogThenSystemTableThenGivesUp)
{
    // A system error number is found in the system table when the catalog lacks it.
    Jel::JelException system(126, "CDib::Create");
    EXPECT_EQ(system.GetMessage(), "The specified module could not be found.\n");
    EXPECT_EQ(system.GetContext(), "CDib::Create");
    EXPECT_EQ(system.GetCode(), 126u);

    EXPECT_EQ(Jel::LookUpMessageWith("NoSuchCatalog.dll", 0x1234567u), "<no message found>");
    // Inserts that the text cannot take.
    EXPECT_EQ(Jel::LookUpMessageWith("NoSuchCatalog.dll", 126u, "surplus"), "<unable to format message>");
}
