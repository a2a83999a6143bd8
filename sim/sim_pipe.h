// The wire format between ds3sim.exe and the device port of padwarden-sim.exe. One request per
// pipe connection, one message each way (message-mode pipe). Both directions use one frame:
//
//   offset 0  u32 magic "PWS1"
//          4  u32 code     request: the operation; answer: its result
//          8  u32 a        request: list or handle id; answer: a value (new id, usage page)
//         12  u32 b        request: index or length; answer: a second value (usage)
//         16  u32 length   payload bytes that follow, at most kSimPipeMaxPayload
//         20  payload      report bytes or UTF-16LE text
//
// All integers little-endian. A frame whose size differs from 20 + length, whose magic is wrong
// or whose length is too large is refused whole. Header-only so that the client needs nothing of
// the simulator itself.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

#include "core/bytes.h"
#include "driver/device_port.h"
#include "sim/hid_relay/relay_wire.h"

constexpr uint32_t kSimPipeMagic = 0x31535750; // "PWS1"
constexpr uint32_t kSimPipeHeaderSize = 20;
constexpr uint32_t kSimPipeMaxPayload = 1024;
constexpr uint32_t kSimPipeMaxFrame = kSimPipeHeaderSize + kSimPipeMaxPayload;
constexpr uint32_t kSimPipeVersion = 1;

enum class SimPipeOp : uint32_t {
    Ping = 1,         // answer a = kSimPipeVersion
    OpenHidList,      // answer a = list id
    EnumHidInterface, // a = list, b = index; answer code = wire EnumResult, payload = path
    GetHidParent,     // a = list, b = index; payload = instance id
    CloseHidList,     // a = list
    OpenDevice,       // payload = path; answer a = handle
    GetUsage,         // a = handle; answer a = usage page, b = usage
    GetFeature,       // a = handle, payload = the caller's buffer; answer payload = the buffer read
    SetFeature,       // a = handle, payload = the buffer to write
    CloseDevice,      // a = handle
    OpenPresentList,  // a = 1: nodes with an interface, 0: every node; answer a = list id
    GetPresentId,     // a = list, b = index; answer code = wire EnumResult, payload = instance id
    RestartPresent,   // a = list, b = index
    ClosePresentList, // a = list
    Trace,            // payload = text
    GetHidElement,    // a = list, b = interface index; answer a = the element that owns it
    // From the relay minidriver (sim/hid_relay/relay_wire.h), which names a device, not a handle.
    RelayDescribe = RELAY_OP_DESCRIBE,      // a = device; answer a = usage page, b = usage
    RelayGetFeature = RELAY_OP_GET_FEATURE, // a = device, payload = the buffer; answer payload = read
    RelaySetFeature = RELAY_OP_SET_FEATURE, // a = device, payload = the buffer to write
    // a = handle, b = low 32 bits of the window, payload = its high 32 bits (4 bytes); answer
    // a = the notification id the simulator names in its notices for that handle
    WatchDevice,
    UnwatchDevice, // a = notification id
};
static_assert(kSimPipeMagic == RELAY_FRAME_MAGIC && kSimPipeHeaderSize == RELAY_FRAME_HEADER,
              "the relay speaks the pipe's frame");

struct SimPipeMessage {
    uint32_t code = 0;
    uint32_t a = 0;
    uint32_t b = 0;
    uint32_t length = 0;
    uint8_t payload[kSimPipeMaxPayload] = {};
};

// Wire values of EnumResult: 0 End, 1 Found, 2 Skip.
inline uint32_t EnumResultToWire(EnumResult r) {
    return r == EnumResult::Found ? 1u : r == EnumResult::Skip ? 2u : 0u;
}
inline EnumResult EnumResultFromWire(uint32_t v) {
    return v == 1 ? EnumResult::Found : v == 2 ? EnumResult::Skip : EnumResult::End;
}

// Bytes written to `out`, or 0 when the message is malformed or does not fit.
inline uint32_t EncodeSimMessage(const SimPipeMessage& m, uint8_t* out, uint32_t capacity) {
    if (m.length > kSimPipeMaxPayload || capacity < kSimPipeHeaderSize + m.length)
        return 0;
    WriteU32LE(out, kSimPipeMagic);
    WriteU32LE(out + 4, m.code);
    WriteU32LE(out + 8, m.a);
    WriteU32LE(out + 12, m.b);
    WriteU32LE(out + 16, m.length);
    if (m.length != 0)
        std::memcpy(out + kSimPipeHeaderSize, m.payload, m.length);
    return kSimPipeHeaderSize + m.length;
}

inline int DecodeSimMessage(const uint8_t* in, uint32_t size, SimPipeMessage* m) {
    if (in == nullptr || m == nullptr || size < kSimPipeHeaderSize || size > kSimPipeMaxFrame)
        return 0;
    uint32_t length = ReadU32LE(in + 16);
    if (ReadU32LE(in) != kSimPipeMagic || length > kSimPipeMaxPayload || size != kSimPipeHeaderSize + length)
        return 0;
    m->code = ReadU32LE(in + 4);
    m->a = ReadU32LE(in + 8);
    m->b = ReadU32LE(in + 12);
    m->length = length;
    if (length != 0)
        std::memcpy(m->payload, in + kSimPipeHeaderSize, length);
    return 1;
}

// UTF-16 text as payload (little-endian units, no terminator); 0 when it does not fit.
inline int PutSimText(SimPipeMessage* m, const char16_t* text, size_t units) {
    if (units > kSimPipeMaxPayload / 2)
        return 0;
    for (size_t i = 0; i < units; ++i)
        WriteU16LE(m->payload + 2 * i, static_cast<uint16_t>(text[i]));
    m->length = static_cast<uint32_t>(2 * units);
    return 1;
}

inline std::u16string GetSimText(const SimPipeMessage& m) {
    std::u16string text;
    uint32_t length = m.length <= kSimPipeMaxPayload ? m.length : kSimPipeMaxPayload;
    for (uint32_t i = 0; i + 1 < length; i += 2) {
        char16_t c = static_cast<char16_t>(ReadU16LE(m.payload + i));
        if (c == 0)
            break;
        text.push_back(c);
    }
    return text;
}
