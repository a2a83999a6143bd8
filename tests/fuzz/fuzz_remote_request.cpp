// What a second copy hands over is untrusted: any bytes as the request the running copy decodes,
// as the answer the sender decodes, and as a command line. A record taken must encode back to
// itself, an answer taken keeps its text terminated, and a parsed name stays within its bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/remote_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the bytes given, on the heap, so that a read past them is seen.
    std::vector<uint8_t> bytes(data, data + size);
    RemoteRequest request;
    if (DecodeRemoteRequest(bytes.data(), bytes.size(), &request)) {
        RemoteSwitch command;
        command.verb = static_cast<RemoteVerb>(request.verb);
        command.transport = request.transport;
        std::memcpy(command.name, request.name, sizeof command.name);
        command.name[kRemoteNameUnits - 1] = 0;
        RemoteRequest again;
        EncodeRemoteRequest(command, request.requestId, request.replyWindow, &again);
        if (again.nameUnits != request.nameUnits ||
            std::memcmp(again.name, request.name, sizeof again.name) != 0)
            __builtin_trap();
    }
    RemoteReply reply;
    if (DecodeRemoteReply(bytes.data(), bytes.size(), &reply) && reply.text[reply.textUnits] != 0)
        __builtin_trap();
    // As a command line: UTF-16 units, terminated.
    std::vector<Utf16> line(size / 2 + 1, 0);
    for (size_t i = 0; i + 1 < size; i += 2)
        line[i / 2] = static_cast<Utf16>(data[i] | (data[i + 1] << 8));
    RemoteSwitch parsed;
    RemoteSwitchOf(line.data(), &parsed);
    if (Utf16Length(parsed.name, kRemoteNameUnits) >= kRemoteNameUnits)
        __builtin_trap();
    return 0;
}
