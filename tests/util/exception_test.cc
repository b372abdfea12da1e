#include <gtest/gtest.h>

#include <new>
#include <string>

#include "util/uexception.h"

namespace {

TEST(UException, SubclassesShareOneMessageThroughEveryHandler)
{
    const std::string text = "FitsDate: string 'x y' has \"wrong\"\nsyntax";
    try {
        throw util::UTDateException(text.c_str());
    } catch (const util::UException &e) {
        EXPECT_EQ(text, e.what());
    }
    try {
        throw util::StringException(text);
    } catch (const std::exception &e) {
        EXPECT_EQ(text, e.what());
    }
}

TEST(UException, CopyKeepsItsOwnMessage)
{
    auto original = std::make_unique<util::UException>("first message");
    {
        util::UException copy(*original);
        EXPECT_STREQ("first message", copy.what());
    }
    EXPECT_STREQ("first message", original->what());
    util::UException copy(*original);
    original.reset();
    EXPECT_STREQ("first message", copy.what());
}

TEST(UException, OnlyUtilExceptionsPassTheGuard)
{
    EXPECT_EQ(7, util::onlyUtilExceptions([] { return 7; }));
    EXPECT_THROW(util::onlyUtilExceptions([]() -> int { throw util::StringException("s"); }),
                 util::StringException);
    EXPECT_DEATH(util::onlyUtilExceptions([]() -> int { throw std::bad_alloc(); }), "");
}

} // namespace
