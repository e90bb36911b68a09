// The chip tables hold together: what the commands take from them (one read for a whole pointer
// chip, a field's byte, a flag's register, a sequence's register) exists where they look.
#include "tool/ChipModel.h"

#include <gtest/gtest.h>
#include <set>

using namespace Kovan;

namespace {

TEST(ChipModelTest, EveryEntryPointsAtSomethingTheChipHas)
{
    for (const ChipModel* chip : CHIPS) {
        SCOPED_TRACE(chip->name);
        // The messages name the addresses the chip answers.
        char addresses[16];
        (void)snprintf(addresses, sizeof addresses,
            chip->lastAddress > chip->firstAddress ? "0x%02x-0x%02x" : "0x%02x", chip->firstAddress,
            chip->lastAddress);
        EXPECT_STREQ(addresses, chip->addresses);
        std::set<int> numbers;
        for (int i = 0; i < chip->registerCount; ++i) {
            const ChipRegister& r = chip->registers[i];
            EXPECT_EQ(&r, chip->findRegister(r.number)) << r.name;
            // A pointer chip is read whole in one transfer, register after register.
            EXPECT_TRUE(!chip->registerPointer || (i == r.number && 1 == r.size)) << r.name;
            EXPECT_GE(chip->busAddress(r.number), chip->firstAddress) << r.name;
            EXPECT_LE(chip->busAddress(r.number), chip->lastAddress) << r.name;
            for (int k = 0; k < r.fieldCount; ++k) { // a flag is one bit
                const RegisterField& f = r.fields[k];
                EXPECT_TRUE(f.offset < r.size && f.mask) << f.name;
                EXPECT_TRUE(FieldKind::FLAG != f.kind || 0 == (f.mask & (f.mask - 1))) << f.name;
            }
            EXPECT_TRUE(numbers.insert(r.number).second) << r.name;
        }
        for (int i = 0; i < chip->flagCount; ++i)
            EXPECT_NE(nullptr, chip->findRegister(chip->flags[i].reg)) << chip->flags[i].name;
        EXPECT_STREQ("hour24", chip->flags[chip->hour24Flag].key);
        EXPECT_NE(0, chip->powerLossBits(chip->statusRegister));
        for (const RegisterWrite& w : { chip->hour24, chip->writeEnable })
            EXPECT_TRUE(w.reg < 0 || chip->findRegister(w.reg));
        for (int i = 0; i < chip->resetLength; ++i)
            EXPECT_NE(nullptr, chip->findRegister(chip->reset[i].reg));
        // The calendar's fields are seven distinct bytes of what a calendar read returns.
        const std::set<int> at(chip->calendarAt, chip->calendarAt + CALENDAR_SIZE);
        EXPECT_TRUE(7 == at.size() && *at.begin() >= 0 && *at.rbegin() < CALENDAR_SIZE);
        EXPECT_GE(chip->calendarReadLength, CALENDAR_SIZE);
    }
}

} // namespace
