#include "driver/device_commands.h"

#include <cstring>

#include "driver/control_report.h"
#include "driver/discovery.h"
#include "driver/driver_link.h"
#include "driver/driver_reset.h"
#include "profiles/profile_library.h"
#include "profiles/profile_record.h"

namespace {

// An answer nobody took (its window went between the post and its delivery) is reclaimed after
// this, so the queue cannot fill up with them.
constexpr auto kUnclaimedAnswer = std::chrono::seconds(10);
constexpr auto kBusy = std::chrono::milliseconds(kDeviceBusyMs);

DeviceCommandQueue* QueueOf(ToolState* state, int transport) {
    return &state->deviceQueues[transport == kBthTransport ? 1 : 0];
}

DeviceCommandQueue* QueueOfTicket(ToolState* state, uint32_t ticket) {
    return QueueOf(state, (ticket & 1u) ? kBthTransport : kUsbTransport);
}

DeviceSlot* SlotOf(ToolState* state, int transport) {
    return transport == kBthTransport ? &state->bthDevices[0] : &state->usbDevices[0];
}

DeviceCommandEntry* EntryOf(DeviceCommandQueue* queue, uint32_t ticket) {
    if (ticket == 0)
        return nullptr;
    for (DeviceCommandEntry& e : queue->entries)
        if (e.stage != CommandStage::Free && e.ticket == ticket)
            return &e;
    return nullptr;
}

void FreeEntry(DeviceCommandEntry* e) {
    e->stage = CommandStage::Free;
    e->ticket = 0;
    e->abandoned = 0;
}

struct Reply {
    WindowHandle window;
    uint32_t message;
    uint32_t ticket;
};

// After the post: an answer that reached nobody, or that nobody wants, frees its entry.
void Deliver(DeviceCommandQueue* queue, const Reply& reply) {
    const int posted = PostDeviceOutcome(reply.window, reply.message, reply.ticket);
    std::lock_guard<std::mutex> hold(queue->lock);
    DeviceCommandEntry* e = EntryOf(queue, reply.ticket);
    if (e != nullptr && (!posted || e->abandoned))
        FreeEntry(e);
}

ResetOutcome ResetThroughElevatedCopy(ToolState* state, DeviceSlot* slot, CommandClock::time_point deadline) {
    Utf16 parent[kInstanceIdChars];
    if (!LockSlotUntil(slot, deadline))
        return ResetOutcome::Busy;
    {
        std::lock_guard<std::mutex> hold(slot->lock, std::adopt_lock);
        // Our own handle would hold the device open through its restart: let go of it first.
        ReleaseSlotHandle(slot);
        std::memcpy(parent, slot->parentInstanceId, sizeof parent);
    }
    parent[kInstanceIdChars - 1] = 0;
    if (parent[0] == 0)
        return ResetOutcome::NotFound;
    uint32_t code = 0;
    const int ran = RunElevatedReset(state, parent, &code);
    if (ran == kLaunchCancelled)
        return ResetOutcome::Cancelled;
    return ran == 1 ? ResetOutcomeOfExitCode(code) : ResetOutcome::Failed;
}

int32_t RunOperation(ToolState* state, int transport, const DeviceCommand& command,
                     CommandClock::time_point deadline, DeviceCommandOutcome* outcome) {
    DeviceSlot* slot = SlotOf(state, transport);
    switch (command.kind) {
    case DeviceCommandKind::ApplyProfile:
        if (command.profileIndex >= state->profileCount || !ProfileAccepted(state, command.profileIndex))
            return 0;
        return ApplyProfileSetting(slot, &state->profiles[command.profileIndex].Setting, deadline);
    case DeviceCommandKind::SetAutoFire: return SetAutoFireButtons(slot, command.buttons, deadline);
    case DeviceCommandKind::Disconnect:
        return transport == kBthTransport ? DisconnectBluetooth(state, state->bthSelectedDevice, deadline)
                                          : 0;
    case DeviceCommandKind::Reconnect:
        return transport == kBthTransport ? ReconnectBluetooth(state, state->bthSelectedDevice, deadline) : 0;
    case DeviceCommandKind::DebugQuery: {
        const uint32_t selector = transport == kBthTransport ? kSelectorBluetooth0 : kSelectorUsb0;
        return QueryDebugRecord(state, selector, command.infoType, outcome->record, deadline);
    }
    case DeviceCommandKind::DriverReset:
        if (!state->canResetDriver)
            return static_cast<int32_t>(ResetOutcome::Failed);
        if (state->resetNeedsConsent)
            return static_cast<int32_t>(ResetThroughElevatedCopy(state, slot, deadline));
        return static_cast<int32_t>(ResetDriverSlot(slot, deadline));
    default: return 0;
    }
}

} // namespace

uint32_t SubmitDeviceCommand(ToolState* state, int transport, const DeviceCommand& command,
                             CommandClock::time_point now) {
    DeviceCommandQueue* queue = QueueOf(state, transport);
    std::lock_guard<std::mutex> hold(queue->lock);
    DeviceCommandEntry* free = nullptr;
    for (DeviceCommandEntry& e : queue->entries) {
        if (e.stage == CommandStage::Answered && now - e.answered >= kUnclaimedAnswer)
            FreeEntry(&e);
        if (e.stage == CommandStage::Free && free == nullptr)
            free = &e;
    }
    if (free == nullptr)
        return 0;
    // Odd tickets are Bluetooth's; the counter skips 0 when it wraps.
    queue->nextTicket = (queue->nextTicket + 1) & 0x7FFFFFFFu;
    if (queue->nextTicket == 0)
        queue->nextTicket = 1;
    free->ticket = (queue->nextTicket << 1) | (transport == kBthTransport ? 1u : 0u);
    free->stage = CommandStage::Queued;
    free->abandoned = 0;
    free->issued = now;
    free->command = command;
    free->outcome = DeviceCommandOutcome();
    free->outcome.kind = command.kind;
    free->outcome.infoType = command.infoType;
    EventSet(&queue->wake);
    return free->ticket;
}

int ExpireDeviceCommands(ToolState* state, CommandClock::time_point now) {
    int waiting = 0;
    for (int transport : {kUsbTransport, kBthTransport}) {
        DeviceCommandQueue* queue = QueueOf(state, transport);
        Reply replies[kDeviceCommandEntries];
        int count = 0;
        {
            std::lock_guard<std::mutex> hold(queue->lock);
            for (DeviceCommandEntry& e : queue->entries) {
                if (e.stage == CommandStage::Running)
                    waiting = 1;
                if (e.stage != CommandStage::Queued)
                    continue;
                if (now - e.issued < kBusy) {
                    waiting = 1;
                    continue;
                }
                e.outcome.end = DeviceCommandEnd::Busy;
                e.stage = CommandStage::Answered;
                e.answered = now;
                replies[count++] = {e.command.replyWindow, e.command.replyMessage, e.ticket};
            }
        }
        for (int i = 0; i < count; ++i)
            Deliver(queue, replies[i]);
    }
    return waiting;
}

int TakeDeviceOutcome(ToolState* state, uint32_t ticket, DeviceCommandOutcome* outcome) {
    DeviceCommandQueue* queue = QueueOfTicket(state, ticket);
    std::lock_guard<std::mutex> hold(queue->lock);
    DeviceCommandEntry* e = EntryOf(queue, ticket);
    if (e == nullptr || e->stage != CommandStage::Answered)
        return 0;
    *outcome = e->outcome;
    FreeEntry(e);
    return 1;
}

void AbandonDeviceCommand(ToolState* state, uint32_t ticket) {
    DeviceCommandQueue* queue = QueueOfTicket(state, ticket);
    std::lock_guard<std::mutex> hold(queue->lock);
    DeviceCommandEntry* e = EntryOf(queue, ticket);
    if (e == nullptr)
        return;
    if (e->stage == CommandStage::Running)
        e->abandoned = 1;
    else
        FreeEntry(e);
}

void RunDeviceCommand(ToolState* state, int transport, const DeviceCommand& command,
                      CommandClock::time_point deadline, DeviceCommandOutcome* outcome) {
    outcome->kind = command.kind;
    outcome->infoType = command.infoType;
    outcome->profileIndex = command.profileIndex;
    outcome->end = DeviceCommandEnd::Done;
    const int32_t result = RunOperation(state, transport, command, deadline, outcome);
    const int busy = command.kind == DeviceCommandKind::DriverReset
                         ? result == static_cast<int32_t>(ResetOutcome::Busy)
                         : result == kDeviceBusy;
    if (busy) {
        outcome->end = DeviceCommandEnd::Busy;
        outcome->result = 0;
    } else {
        outcome->result = result;
    }
}

void DeviceWorkerMain(ToolState* state, int transport) {
    DeviceCommandQueue* queue = QueueOf(state, transport);
    for (;;) {
        DeviceCommandEntry* entry = nullptr;
        DeviceCommand command;
        CommandClock::time_point issued;
        uint32_t ticket = 0;
        {
            std::lock_guard<std::mutex> hold(queue->lock);
            if (queue->stop.load())
                return;
            for (DeviceCommandEntry& e : queue->entries)
                if (e.stage == CommandStage::Queued && (entry == nullptr || e.issued < entry->issued))
                    entry = &e;
            if (entry == nullptr) {
                // Reset under the queue's lock, which a submit holds to set it: no wake is lost.
                EventReset(&queue->wake);
            } else {
                entry->stage = CommandStage::Running;
                command = entry->command;
                issued = entry->issued;
                ticket = entry->ticket;
            }
        }
        if (entry == nullptr) {
            EventWait(&queue->wake, std::chrono::milliseconds(1000));
            continue;
        }
        DeviceCommandOutcome outcome;
        const CommandClock::time_point deadline = issued + kBusy;
        if (CommandClock::now() >= deadline) {
            // It waited behind a command that took its time: sent now, it would come as a surprise.
            outcome.kind = command.kind;
            outcome.infoType = command.infoType;
            outcome.end = DeviceCommandEnd::Busy;
        } else {
            RunDeviceCommand(state, transport, command, deadline, &outcome);
        }
        {
            std::lock_guard<std::mutex> hold(queue->lock);
            entry->outcome = outcome;
            entry->stage = CommandStage::Answered;
            entry->answered = CommandClock::now();
        }
        Deliver(queue, {command.replyWindow, command.replyMessage, ticket});
    }
}

void StopDeviceWorker(ToolState* state, int transport) {
    DeviceCommandQueue* queue = QueueOf(state, transport);
    std::lock_guard<std::mutex> hold(queue->lock);
    queue->stop = 1;
    EventSet(&queue->wake);
}
