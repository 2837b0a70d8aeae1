// The table of temporaries removed on an interrupt: which slot a path takes,
// when none is given, and what a walk of the table (the handler's) sees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/cleanup_slots.h"

namespace dls2mml {
namespace {

struct Tag {
    int value = -1;
};

// Each step arms a path (with a tag) or disarms a slot; what it returns and
// what a walk then sees are checked after every step.
struct Step {
    enum { arm, disarm } action;
    std::string path; // arm
    int index;        // disarm: the slot; arm: the slot expected (-1: none)
};

using Slots = CleanupSlots<char, 8, Tag>;

std::vector<std::pair<std::string, int>> walk(Slots& slots)
{
    std::vector<std::pair<std::string, int>> seen;
    slots.forEachArmed([&](const char* path, Tag& tag) { seen.emplace_back(path, tag.value); });
    return seen;
}

TEST(CleanupSlots, PathsTakeTheFirstFreeSlotUntilNoneIsLeft)
{
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::pair<std::string, int>> seen; // path and tag of each armed slot, in slot order
    };
    const Case cases[] = {
        {"none armed", {}, {}},
        {"two in order", {{Step::arm, "a", 0}, {Step::arm, "b", 1}}, {{"a", 0}, {"b", 1}}},
        {"a freed slot is taken again",
         {{Step::arm, "a", 0}, {Step::arm, "b", 1}, {Step::arm, "c", 2}, {Step::disarm, "", 1}, {Step::arm, "d", 1}},
         {{"a", 0}, {"d", 1}, {"c", 2}}},
        {"a negative index frees nothing", {{Step::arm, "a", 0}, {Step::disarm, "", -1}}, {{"a", 0}}},
        {"the longest path that fits with its terminator", {{Step::arm, "1234567", 0}}, {{"1234567", 0}}},
        {"one unit too long: no slot", {{Step::arm, "12345678", -1}, {Step::arm, "b", 0}}, {{"b", 0}}},
        {"a shorter path after a longer one ends where it should",
         {{Step::arm, "longest", 0}, {Step::disarm, "", 0}, {Step::arm, "ab", 0}},
         {{"ab", 0}}},
        {"all eight taken, the ninth gets none",
         {{Step::arm, "0", 0}, {Step::arm, "1", 1}, {Step::arm, "2", 2}, {Step::arm, "3", 3}, {Step::arm, "4", 4},
          {Step::arm, "5", 5}, {Step::arm, "6", 6}, {Step::arm, "7", 7}, {Step::arm, "8", -1}, {Step::disarm, "", 7},
          {Step::disarm, "", 0}, {Step::arm, "9", 0}},
         {{"9", 0}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"5", 5}, {"6", 6}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Slots slots;
        for (const Step& step : c.steps) {
            if (step.action == Step::arm)
                EXPECT_EQ(slots.arm(step.path, Tag{step.index}), step.index) << step.path;
            else
                slots.disarm(step.index);
        }
        EXPECT_EQ(walk(slots), c.seen);
    }
}

TEST(CleanupSlots, TheExtraDataOfASlotCanChangeWhileItStaysArmed)
{
    CleanupSlots<wchar_t, 4, Tag> slots;
    ASSERT_EQ(slots.arm(L"ab", Tag{5}), 0);
    slots.extra(0).value = 9; // as the Win32 back end forgets a handle it closed
    std::vector<std::pair<std::wstring, int>> seen;
    slots.forEachArmed([&](const wchar_t* path, Tag& tag) { seen.emplace_back(path, tag.value); });
    EXPECT_EQ(seen, (std::vector<std::pair<std::wstring, int>>{{L"ab", 9}}));
}

} // namespace
} // namespace dls2mml
