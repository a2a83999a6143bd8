// The simulated force-feedback client against the tool's own block operations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "rumble/rumble_block.h"
#include "rumble/rumble_text.h"
#include "sim/ff_client.h"

namespace {

std::vector<std::string> Step(uint8_t* block, FfClients* clients) {
    std::vector<std::string> lines;
    FfStep(block, clients, &lines);
    return lines;
}

TEST(FfClient, ClaimsLowestFreeSlotAndRefusesTheThirtyThird) {
    static uint8_t block[kRumbleBlockSize];
    WriteRumbleHeader(block, 1);
    static FfClients clients;
    clients = FfClients();
    for (int i = 0; i < 32; ++i)
        ASSERT_EQ(FfClaim(block, &clients, u"pad", 1, 0, 0, 3), i);
    EXPECT_EQ(ReadU32LE(block + kRumbleSlotMask), 0xFFFFFFFFu);
    EXPECT_EQ(FfClaim(block, &clients, u"late", 1, 0, 0, 3), -1);
    ASSERT_EQ(FfRelease(block, &clients, 5), 1);
    EXPECT_EQ(FfRelease(block, &clients, 5), 0);
    EXPECT_EQ(ReadU32LE(block + kRumbleSlotMask), 0xFFFFFFFFu & ~(1u << 5));
    EXPECT_EQ(FfClaim(block, &clients, u"again", 2, 1, 0, 9), 5);
    // The name is cut to 63 units so that it stays terminated.
    std::u16string longName(80, u'n');
    WriteRumbleHeader(block, 1);
    clients = FfClients();
    ASSERT_EQ(FfClaim(block, &clients, longName.c_str(), 1, 2, 3, 4), 0);
    Utf16 title[kRumbleTitleUnits];
    FormatRumbleTitle(title, kRumbleTitleUnits, u"T", RumbleSlot(block, 0));
    EXPECT_EQ(std::u16string(title), u"T - " + std::u16string(63, u'n'));
    Utf16 version[kFfVersionUnits];
    FormatFfDriverVersion(block, version, kFfVersionUnits);
    EXPECT_EQ(std::u16string(version), u" 1. 2. 3.0004");
}

TEST(FfClient, LogsChangesAndAnswersRequests) {
    static uint8_t block[kRumbleBlockSize];
    WriteRumbleHeader(block, 1);
    static FfClients clients;
    clients = FfClients();
    ASSERT_EQ(FfClaim(block, &clients, u"pad", 1, 0, 0, 3), 0);
    EXPECT_EQ(Step(block, &clients), std::vector<std::string>{"ENABLE 1"});
    EXPECT_TRUE(Step(block, &clients).empty());

    // The dialog's accept: a new row and one request.
    const int32_t values[5] = {150, 2000, 1000, 1000, 5000};
    AcceptRumbleValues(RumbleSlot(block, 0), 1, values);
    EXPECT_EQ(Step(block, &clients),
              (std::vector<std::string>{"ROW slot=0 enable=1 gain=150 small=2000 low=2001 mid=2002 high=5000",
                                        "ACK slot=0 seq=1"}));
    // The sweep's heartbeat: a request without a change.
    uint32_t ages[kRumbleSlotCount] = {};
    ages[0] = kRumbleAgeLimit;
    SweepRumbleBlock(block, ages);
    EXPECT_EQ(Step(block, &clients), std::vector<std::string>{"HEARTBEAT slot=0 seq=2"});
    WriteU32LE(block + kRumbleEnableField, 0);
    EXPECT_EQ(Step(block, &clients), std::vector<std::string>{"ENABLE 0"});

    // Silent: the request stays open and the next full period reaps the slot.
    ASSERT_EQ(FfSetAcking(&clients, 0, 0), 1);
    AcceptRumbleValues(RumbleSlot(block, 0), 0, values);
    EXPECT_EQ(
        Step(block, &clients),
        std::vector<std::string>{"ROW slot=0 enable=0 gain=150 small=2000 low=2001 mid=2002 high=5000"});
    for (uint32_t i = 0; i < kRumbleAgeLimit; ++i)
        SweepRumbleBlock(block, ages);
    EXPECT_EQ(ReadU32LE(block + kRumbleSlotMask), 0u);
    EXPECT_EQ(Step(block, &clients), std::vector<std::string>{"LOST slot=0"});
    EXPECT_EQ(FfSetAcking(&clients, 0, 1), 0);
}

TEST(FfClient, FaultsTheTestsAskFor) {
    static uint8_t block[kRumbleBlockSize];
    WriteRumbleHeader(block, 1);
    static FfClients clients;
    clients = FfClients();
    ASSERT_EQ(FfClaim(block, &clients, u"a", 1, 0, 0, 3), 0);
    ASSERT_EQ(FfClaim(block, &clients, u"b", 1, 0, 0, 3), 1);
    ASSERT_EQ(FfWriteUnterminatedName(block, &clients, 1, u'W'), 1);
    for (uint32_t k = 0; k < kRumbleNameUnits; ++k)
        ASSERT_EQ(ReadU16LE(RumbleSlot(block, 1) + kSlotClientName + 2 * k), u'W');
    ASSERT_EQ(FfClearMagic(block, &clients, 0), 1);
    EXPECT_EQ(ReadU32LE(block + kRumbleSlotMask), 3u);
    uint32_t ages[kRumbleSlotCount] = {};
    EXPECT_EQ(SweepRumbleBlock(block, ages), 2u);
    // Slots this process does not hold are refused.
    EXPECT_EQ(FfClearMagic(block, &clients, 0), 0);
    EXPECT_EQ(FfWriteUnterminatedName(block, &clients, 7, u'W'), 0);
    EXPECT_EQ(FfRelease(block, &clients, 40), 0);
}

} // namespace
