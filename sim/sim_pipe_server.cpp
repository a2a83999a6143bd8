#include "sim/sim_pipe_server.h"

#include "sim/sim_driver.h"

namespace {

int PutText(SimPipeMessage* answer, const std::string& text) {
    std::u16string wide = SimUtf8ToUtf16(text);
    return PutSimText(answer, wide.data(), wide.size());
}

void AnswerEnum(EnumResult r, const std::string& text, SimPipeMessage* answer) {
    // A text too long for one frame is skipped, as a path that does not fit the caller's buffer.
    if (r == EnumResult::Found && !PutText(answer, text))
        r = EnumResult::Skip;
    answer->code = EnumResultToWire(r);
}

} // namespace

void ServeSimRequest(const SimPipeMessage& request, SimPipeMessage* answer) {
    *answer = SimPipeMessage();
    if (request.length > kSimPipeMaxPayload)
        return;
    std::string text;
    switch (static_cast<SimPipeOp>(request.code)) {
    case SimPipeOp::Ping:
        answer->code = 1;
        answer->a = kSimPipeVersion;
        break;
    case SimPipeOp::OpenHidList:
        answer->a = SimOpenHidList();
        answer->code = answer->a != 0;
        break;
    case SimPipeOp::EnumHidInterface:
        AnswerEnum(SimHidListPath(request.a, request.b, &text), text, answer);
        break;
    case SimPipeOp::GetHidParent:
        answer->code = SimHidListParent(request.a, request.b, &text) && PutText(answer, text);
        break;
    case SimPipeOp::CloseHidList: answer->code = static_cast<uint32_t>(SimCloseHidList(request.a)); break;
    case SimPipeOp::OpenDevice: {
        std::u16string path = GetSimText(request);
        answer->a = SimOpenDevice(SimUtf16ToUtf8(path.c_str(), path.size()));
        answer->code = answer->a != 0;
        break;
    }
    case SimPipeOp::GetUsage: {
        uint16_t page = 0;
        uint16_t usage = 0;
        answer->code = static_cast<uint32_t>(SimGetUsage(request.a, &page, &usage));
        answer->a = page;
        answer->b = usage;
        break;
    }
    case SimPipeOp::GetFeature: {
        std::memcpy(answer->payload, request.payload, request.length);
        answer->code = static_cast<uint32_t>(SimGetFeature(request.a, answer->payload, request.length));
        answer->length = answer->code ? request.length : 0;
        break;
    }
    case SimPipeOp::SetFeature:
        answer->code = static_cast<uint32_t>(SimSetFeature(request.a, request.payload, request.length));
        break;
    case SimPipeOp::CloseDevice: answer->code = static_cast<uint32_t>(SimCloseDevice(request.a)); break;
    case SimPipeOp::OpenPresentList:
        answer->a = SimOpenPresentList(request.a != 0 ? 1 : 0);
        answer->code = answer->a != 0;
        break;
    case SimPipeOp::GetPresentId:
        AnswerEnum(SimPresentListId(request.a, request.b, &text), text, answer);
        break;
    case SimPipeOp::RestartPresent:
        answer->code = static_cast<uint32_t>(SimRestartPresent(request.a, request.b));
        break;
    case SimPipeOp::ClosePresentList:
        answer->code = static_cast<uint32_t>(SimClosePresentList(request.a));
        break;
    case SimPipeOp::Trace:
        SimTrace(GetSimText(request));
        answer->code = 1;
        break;
    case SimPipeOp::RelayDescribe: {
        uint16_t page = 0;
        uint16_t usage = 0;
        answer->code = static_cast<uint32_t>(SimDeviceUsage(request.a, &page, &usage));
        answer->a = page;
        answer->b = usage;
        break;
    }
    case SimPipeOp::RelayGetFeature:
        std::memcpy(answer->payload, request.payload, request.length);
        answer->code = static_cast<uint32_t>(SimDeviceGetFeature(request.a, answer->payload, request.length));
        answer->length = answer->code ? request.length : 0;
        break;
    case SimPipeOp::RelaySetFeature:
        answer->code = static_cast<uint32_t>(SimDeviceSetFeature(request.a, request.payload, request.length));
        break;
    case SimPipeOp::GetHidElement:
        answer->code = static_cast<uint32_t>(SimHidListElement(request.a, request.b, &answer->a));
        break;
    case SimPipeOp::WatchDevice: {
        if (request.length != 4)
            break;
        const uint64_t window = (static_cast<uint64_t>(ReadU32LE(request.payload)) << 32) | request.b;
        answer->a = SimWatchDevice(request.a, window);
        answer->code = answer->a != 0;
        break;
    }
    case SimPipeOp::UnwatchDevice: answer->code = static_cast<uint32_t>(SimUnwatchDevice(request.a)); break;
    }
}
