// The descriptors of the component types hold together: every parameter a
// type has is described, printed and written to the header, and nothing it
// does not have is.  A new profile that forgets one of them fails here
// rather than in a run.
#include "torvex/model/component_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// The slots whose values a layout prints.
std::set<int> printed_slots(const print_layout &l)
{
    std::set<int> slots;
    for (const print_field &f : l.field) {
        if (!f.format)
            break;
        if (f.slot != 0)
            slots.insert(f.slot);
    }
    return slots;
}

TEST(ComponentTypes, EveryParameterIsDescribedPrintedAndWritten)
{
    int n = 0;
    const component_type *types = component_types(&n);
    ASSERT_GE(n, 9);
    std::set<std::string> words;
    for (int i = 0; i < n; i++) {
        const component_type &t = types[i];
        SCOPED_TRACE(t.word);
        EXPECT_TRUE(words.insert(t.word).second);
        EXPECT_EQ(find_component_type(t.word), &t);
        EXPECT_EQ(find_component_type((std::string(t.word) + "2").c_str()), &t);
        EXPECT_NE(t.render, nullptr);
        EXPECT_EQ(has_position(t.word), t.kind != component_kind::plane);

        const bool positioned = t.kind != component_kind::plane;
        std::set<int> parameters;
        std::set<std::string> labels;
        for (int k = 1; k <= NSLOTS; k++) {
            const slot_desc &s = t.slot[k];
            if (s.use != slot_use::parameter) {
                EXPECT_EQ(s.label, nullptr) << "slot " << k;
                continue;
            }
            parameters.insert(k);
            ASSERT_NE(s.label, nullptr) << "slot " << k;
            EXPECT_TRUE(labels.insert(s.label).second) << s.label;
            EXPECT_NE(s.meaning, nullptr) << "slot " << k;
            // Slot 2 of a positioned type shares the line of slot 1.
            if (!(positioned && k == SLOT_Y)) {
                EXPECT_NE(s.menu, nullptr) << "slot " << k;
            }
            EXPECT_EQ(s.valid == nullptr, s.problem == nullptr) << "slot " << k;
        }
        // The position stands in the head of every printed line.
        std::set<int> shown = parameters;
        if (positioned) {
            shown.erase(SLOT_X);
            shown.erase(SLOT_Y);
        }
        EXPECT_EQ(printed_slots(t.iteration), shown);
        EXPECT_EQ(printed_slots(t.log_value), shown);
        EXPECT_EQ(printed_slots(t.log_error), shown);
    }
}

TEST(ComponentTypes, UnknownWordsHaveNoDescriptor)
{
    EXPECT_EQ(find_component_type("comet"), nullptr);
    EXPECT_EQ(find_component_type("none"), nullptr);
    EXPECT_EQ(find_component_type("sersi"), nullptr);
    EXPECT_TRUE(has_position("comet"));
    EXPECT_EQ(slot_problem("comet", SLOT_SIZE, -1, true), nullptr);
}

// A line is its head and its fields, each formatted with its slot's value.
TEST(ComponentTypes, PrintLineFormatsEveryFieldWithItsSlot)
{
    print_layout l{"H", {{3, " %.1f"}, {0, " --"}, {8, " %.2f"}, {0, "\n"}}};
    double v[NSLOTS + 1] = {0, 1, 2, 3.25, 4, 5, 6, 7, 0.5, 9, 10};
    EXPECT_EQ(print_line(l, "H", v), "H 3.2 -- 0.50\n");
    EXPECT_EQ(slot_comment(find_component_type("sersic")->slot[SLOT_SIZE]),
              "Effective radius Re [pixels]");
}

} // namespace
