// The command line that drives the running copy: the switches, the WM_COPYDATA records that carry
// a command there and its answer back, and the "-status" text. All of it is untrusted on receipt:
// the decoders check size, version, range and the UTF-16 before anything is used.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/text.h"
#include "core/tool_state.h"

enum class RemoteVerb : uint16_t {
    None = 0,
    Profile = 1,
    Disconnect = 2,
    Reconnect = 3,
    Status = 4,
    Help = 5
};

// The exit codes of the copy that sends a command.
enum RemoteExit : uint32_t {
    kRemoteDone = 0,
    kRemoteFailed = 1,   // the driver refused or failed, or the controller is not there
    kRemoteNoCopy = 2,   // no copy is running
    kRemoteUnknown = 3,  // unknown switch or profile
    kRemoteBusy = 4,     // busy, or no answer in time
    kRemoteAccepted = 5, // on the wire only: the answer follows when the device has answered
};

constexpr size_t kRemoteNameUnits = 128;
constexpr size_t kRemoteTextUnits = 1024;

struct RemoteSwitch {
    RemoteVerb verb = RemoteVerb::None;
    uint32_t transport = 0; // 0 USB, 1 Bluetooth
    Utf16 name[kRemoteNameUnits] = {};
};

// What the command line asks of the running copy. None when its first argument is none of the
// switches and no switch at all, or one that the tool reads elsewhere (-debug, the installer's,
// -driver-reset): the tool starts as before. Malformed when a switch is there but malformed (no
// transport, no name, a name too long, something after it) or is one nothing in the tool knows.
// Switches and transports are read without case.
enum class RemoteParse { None, Command, Malformed };
RemoteParse RemoteSwitchOf(const Utf16* commandLine, RemoteSwitch* out);

// The switches as "-help" prints them.
extern const char16_t kRemoteHelpText[];

// WM_COPYDATA's dwData of each record, and the records themselves: fixed sizes, little-endian.
constexpr uint64_t kRemoteRequestTag = 0x31435250; // "PRC1"
constexpr uint64_t kRemoteReplyTag = 0x31525250;   // "PRR1"
constexpr uint16_t kRemoteVersion = 1;

struct RemoteRequest {
    uint32_t magic;
    uint16_t version;
    uint16_t verb;
    uint32_t transport;
    uint32_t requestId;
    uint64_t replyWindow; // the sender's window that takes the answer
    uint32_t nameUnits;   // without a terminator
    uint32_t reserved;
    Utf16 name[kRemoteNameUnits];
};
static_assert(sizeof(RemoteRequest) == 288, "the request's layout on the wire");

struct RemoteReply {
    uint32_t magic;
    uint16_t version;
    uint16_t reserved;
    uint32_t requestId;
    uint32_t code;
    uint32_t textUnits;
    Utf16 text[kRemoteTextUnits];
};
static_assert(sizeof(RemoteReply) == 2068, "the answer's layout on the wire");

void EncodeRemoteRequest(const RemoteSwitch& command, uint32_t requestId, uint64_t replyWindow,
                         RemoteRequest* out);
// 1 when `data` is exactly a request of this version for a known verb, with a name of checked
// UTF-16 (no lone surrogate, no control character) where the verb takes one; `out` then holds it.
int DecodeRemoteRequest(const void* data, size_t size, RemoteRequest* out);
void EncodeRemoteReply(uint32_t requestId, uint32_t code, const Utf16* text, RemoteReply* out);
int DecodeRemoteReply(const void* data, size_t size, RemoteReply* out);

// Profile index whose title, file name, or file name without its extension is `name`, letters
// compared without case; -1 when none is.
int32_t FindProfileByName(const ToolState* state, const Utf16* name);

// "key=value" lines: per transport connected, waiting, battery, profile, driver; then rumble.
void FormatRemoteStatus(ToolState* state, Utf16* out, size_t capacity);
