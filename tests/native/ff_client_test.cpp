// The simulated force-feedback client against the tool's own block operations.
#include <gtest/gtest.h>

#include <algorithm>
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

// A claimed slot byte for byte, written out by hand from the block's description: slot 1 starts at
// 16 + 169; magic, version 2.7 type 1 build 0x0309, the name "Ab", the sequences, then the
// default row. The client and the tool must each read it the same way.
TEST(FfClient, AClaimedSlotByteForByte) {
    static uint8_t block[kRumbleBlockSize];
    WriteRumbleHeader(block, 1);
    static FfClients clients;
    clients = FfClients();
    ASSERT_EQ(FfClaim(block, &clients, u"x", 1, 0, 0, 1), 0);
    ASSERT_EQ(FfClaim(block, &clients, u"Ab", 2, 7, 1, 0x0309), 1);
    uint8_t want[169] = {'D', 'S', '3', 'R', 2, 7, 1, 0x09, 0x03, 'A', 0, 'b', 0};
    const uint8_t row[24] = {1,    0,    0, 0, 100,  0,    0, 0, 0xE8, 0x03, 0, 0,
                             0xD0, 0x07, 0, 0, 0xB8, 0x0B, 0, 0, 0xA0, 0x0F, 0, 0};
    std::memcpy(want + 145, row, sizeof row);
    EXPECT_EQ(std::memcmp(block + 16 + 169, want, sizeof want), 0);
    EXPECT_EQ(block[8], 0x03) << "the SlotMask bits of slots 0 and 1";
    // The tool's reading of the same bytes.
    const uint8_t* slot = RumbleSlot(block, 1);
    EXPECT_EQ(slot, block + 16 + 169);
    EXPECT_EQ(RumbleSlotValid(slot), 1);
    EXPECT_EQ(ReadU16LE(slot + kSlotVersionBuild), 0x0309);
    EXPECT_EQ(ReadU32LE(slot + kSlotLargeHigh), 4000u);
    // The tool's request is what the client answers.
    WriteU32LE(block + 16 + 169 + 137, 5);
    const std::vector<std::string> lines = Step(block, &clients);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "HEARTBEAT slot=1 seq=5"), lines.end());
    EXPECT_EQ(ReadU32LE(block + 16 + 169 + 141), 5u);
    EXPECT_EQ(ReadU32LE(slot + kSlotAckSequence), 5u);
}

} // namespace
