#include "HDRFilter.h"
#include "ObjectFactory.h"

#include <gtest/gtest.h>

using namespace Tav;

TEST(HDRFilterFactory, ObjectFactoryCreatesAnInitialisedFilter)
{
    CObjectFactory factory;
    IComponent* component = factory.GetObject("HDRFilter");
    auto* filter = dynamic_cast<CHDRFilter*>(component);
    ASSERT_NE(filter, nullptr);
    EXPECT_TRUE(filter->IsInitialized());
    EXPECT_STREQ(filter->GetName(), "HDRFilter");
}
