#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "error_text.h"
#include "util/region.h"

namespace {

using util::Region;

std::string messageOf(const std::function<void()> &f)
{
    return errorText(f);
}

TEST(Region, NewRegionIsAllZero)
{
    Region r(2);
    EXPECT_EQ("[0:0,0:0]", r.toString());
    EXPECT_EQ(1u, r.getLength());
    EXPECT_EQ(2u, r.getDimensions());
    EXPECT_EQ("[]", Region(0).toString());
    EXPECT_EQ(1u, Region(0).getLength());
}

TEST(Region, RangesKeepTheirOrder)
{
    Region r(3);
    r.setRange(1, 10, 1);
    r.setStart(2, -2);
    r.setEnd(2, 2);
    r.setRange(3, 5, 5);
    EXPECT_EQ("[10:1,-2:2,5:5]", r.toString());
    EXPECT_EQ(10, r.getStart(1));
    EXPECT_EQ(1, r.getEnd(1));
    EXPECT_EQ(10u, r.getLength(1));
    EXPECT_EQ(5u, r.getLength(2));
    EXPECT_EQ(50u, r.getLength());
    r.setRange(1, INT_MIN, INT_MAX);
    EXPECT_EQ(4294967296ul, r.getLength(1));
}

TEST(Region, IllegalDimensionsAreRefusedAndChangeNothing)
{
    Region r(2);
    r.setRange(1, 1, 100);
    r.setRange(2, 3, 4);
    const std::string get = "request for region parameter of illegal dimension";
    const std::string set = "request to set region parameter of illegal dimension";
    EXPECT_EQ(get, Region::error_get_dim);
    EXPECT_EQ(set, Region::error_set_dim);
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { r.getStart(0); }, get},       {[&] { r.getEnd(3); }, get},
        {[&] { r.getLength(3); }, get},      {[&] { r.getSlice(0, 1); }, get},
        {[&] { r.getSlice(2, 1); }, get},    {[&] { r.getSlice(1, 3); }, get},
        {[&] { r.setStart(0, 9); }, set},    {[&] { r.setEnd(3, 9); }, set},
        {[&] { r.setRange(3, 9, 9); }, set}, {[&] { r.setRegion(Region(3)); }, set},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.second, messageOf(c.first));
    EXPECT_EQ("[1:100,3:4]", r.toString());
}

TEST(Region, SlicesAndCopiesOwnTheirRanges)
{
    Region r(3);
    r.setRange(1, 1, 10);
    r.setRange(2, 2, 20);
    r.setRange(3, 3, 30);
    const Region slice = r.getSlice(2, 3);
    EXPECT_EQ("[2:20,3:30]", slice.toString());

    Region copy(r);
    Region assigned(1);
    assigned = r;
    Region same(3);
    same.setRegion(r);
    r.setRange(1, 7, 7);
    EXPECT_EQ("[1:10,2:20,3:30]", copy.toString());
    EXPECT_EQ("[1:10,2:20,3:30]", assigned.toString());
    EXPECT_EQ("[1:10,2:20,3:30]", same.toString());
    const Region &alias = assigned;
    assigned = alias;
    EXPECT_EQ("[1:10,2:20,3:30]", assigned.toString());
}

} // namespace
