#include "sim/ff_client.h"

#include <cstring>

#include "core/bytes.h"

namespace {

std::string RowText(uint32_t slot, const uint8_t* row) {
    static const char* const names[6] = {"enable", "gain", "small", "low", "mid", "high"};
    std::string text = "ROW slot=" + std::to_string(slot);
    for (int i = 0; i < 6; ++i)
        text += std::string(" ") + names[i] + "=" + std::to_string(ReadU32LE(row + 4 * i));
    return text;
}

int Holds(const FfClients* clients, uint32_t slot) {
    return slot < kFfSlotCount && clients->slots[slot].used;
}

// Default parameters a fresh client starts with, so that the dialog has something to show.
void WriteDefaultRow(uint8_t* slot) {
    const uint32_t row[6] = {1, 100, 1000, 2000, 3000, 4000};
    for (int i = 0; i < 6; ++i)
        WriteU32LE(slot + kFfRowAt + 4 * i, row[i]);
}

} // namespace

int FfClaim(uint8_t* block, FfClients* clients, const Utf16* name, uint8_t major, uint8_t minor, uint8_t type,
            uint16_t build) {
    const uint32_t mask = ReadU32LE(block + kFfSlotMaskAt);
    for (uint32_t i = 0; i < kFfSlotCount; ++i) {
        if ((mask & (1u << i)) != 0)
            continue;
        uint8_t* slot = FfSlot(block, i);
        std::memset(slot, 0, kFfSlotSize);
        std::memcpy(slot + kFfMagicAt, "DS3R", 4);
        slot[kFfVersionMajorAt] = major;
        slot[kFfVersionMinorAt] = minor;
        slot[kFfVersionTypeAt] = type;
        WriteU16LE(slot + kFfVersionBuildAt, build);
        for (uint32_t k = 0; k + 1 < kFfNameUnits && name[k] != 0; ++k)
            WriteU16LE(slot + kFfNameAt + 2 * k, static_cast<uint16_t>(name[k]));
        WriteDefaultRow(slot);
        WriteU32LE(block + kFfSlotMaskAt, mask | (1u << i));
        FfClient& client = clients->slots[i];
        client = FfClient();
        client.used = 1;
        std::memcpy(client.row, slot + kFfRowAt, kFfRowSize);
        return static_cast<int>(i);
    }
    return -1;
}

int FfRelease(uint8_t* block, FfClients* clients, uint32_t slot) {
    if (!Holds(clients, slot))
        return 0;
    std::memset(FfSlot(block, slot), 0, kFfSlotSize);
    WriteU32LE(block + kFfSlotMaskAt, ReadU32LE(block + kFfSlotMaskAt) & ~(1u << slot));
    clients->slots[slot] = FfClient();
    return 1;
}

int FfClearMagic(uint8_t* block, FfClients* clients, uint32_t slot) {
    if (!Holds(clients, slot))
        return 0;
    std::memset(FfSlot(block, slot) + kFfMagicAt, 0, 4);
    clients->slots[slot] = FfClient();
    return 1;
}

int FfWriteUnterminatedName(uint8_t* block, FfClients* clients, uint32_t slot, Utf16 fill) {
    if (!Holds(clients, slot) || fill == 0)
        return 0;
    for (uint32_t k = 0; k < kFfNameUnits; ++k)
        WriteU16LE(FfSlot(block, slot) + kFfNameAt + 2 * k, static_cast<uint16_t>(fill));
    return 1;
}

int FfSetAcking(FfClients* clients, uint32_t slot, int acking) {
    if (!Holds(clients, slot))
        return 0;
    clients->slots[slot].acking = acking != 0;
    return 1;
}

void FfStep(uint8_t* block, FfClients* clients, std::vector<std::string>* lines) {
    const uint32_t enable = ReadU32LE(block + kFfRumbleEnableAt);
    if (!clients->enableSeen || enable != clients->enable) {
        clients->enableSeen = 1;
        clients->enable = enable;
        lines->push_back("ENABLE " + std::to_string(enable));
    }
    const uint32_t mask = ReadU32LE(block + kFfSlotMaskAt);
    for (uint32_t i = 0; i < kFfSlotCount; ++i) {
        FfClient& client = clients->slots[i];
        if (!client.used)
            continue;
        uint8_t* slot = FfSlot(block, i);
        if ((mask & (1u << i)) == 0 || std::memcmp(slot + kFfMagicAt, "DS3R", 4) != 0) {
            lines->push_back("LOST slot=" + std::to_string(i));
            client = FfClient();
            continue;
        }
        const int changed = std::memcmp(client.row, slot + kFfRowAt, kFfRowSize) != 0;
        if (changed) {
            std::memcpy(client.row, slot + kFfRowAt, kFfRowSize);
            lines->push_back(RowText(i, client.row));
        }
        const uint32_t request = ReadU32LE(slot + kFfRequestAt);
        if (client.acking && request != ReadU32LE(slot + kFfAckAt)) {
            WriteU32LE(slot + kFfAckAt, request);
            lines->push_back(std::string(changed ? "ACK" : "HEARTBEAT") + " slot=" + std::to_string(i) +
                             " seq=" + std::to_string(request));
        }
    }
}
