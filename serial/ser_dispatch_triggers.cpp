#include <algorithm>

#include "serial/ser_dispatch.h"
#include "serial/ser_except.h"

namespace velka {

// --- Triggers and handlers ---

bool TBaseDispatcher::SetEventBusy(bool busy) {
    MutexLock guard(state_lock_);
    const bool was_busy = event_busy_.exchange(busy);
    // The triggers held back while the flag was set get their turn now.
    if (was_busy && !busy) io_queue_.Wake();
    return was_busy;
}

void TBaseDispatcher::ChangeLengthTrigger(std::uint16_t length) {
    MutexLock guard(state_lock_);
    triggers_.LengthTrigger = length;
}

void TBaseDispatcher::UpdateHandlerFlags(TUpdateHandlerFlags flag) {
    MutexLock guard(state_lock_);
    if (flag == TUpdateHandlerFlags::fuEnablePort) component_wants_ = true;
    if (flag == TUpdateHandlerFlags::fuDisablePort) component_wants_ = false;
}

void TBaseDispatcher::SaveTriggers(TTriggerSave& save) {
    MutexLock guard(state_lock_);
    save = triggers_;
}

void TBaseDispatcher::RestoreTriggers(const TTriggerSave& save) {
    MutexLock guard(state_lock_);
    triggers_ = save;
    TriggersArmed();
}

// REQUIRES: state_lock_ held. A trigger armed while the dispatch thread sleeps may
// fall due before anything else wakes it: it recomputes its deadline now.
void TBaseDispatcher::TriggersArmed() {
    UpdateOutputWatch();
    io_queue_.Wake();
}

// REQUIRES: state_lock_ held.
void TBaseDispatcher::UpdateOutputWatch() {
    const auto watches_output = [](const TStatusTrigger& trigger) {
        return trigger.Enabled && trigger.Kind != TStatusTriggerKind::ModemStatus &&
               trigger.Kind != TStatusTriggerKind::LineError;
    };
    output_watched_ = std::ranges::any_of(triggers_.StatusTriggers, watches_output);
}

std::uint16_t TBaseDispatcher::NewHandle() {
    std::uint16_t handle = triggers_.NextHandle++;
    if (triggers_.NextHandle == 0) triggers_.NextHandle = 1;
    return handle;
}

std::uint16_t TBaseDispatcher::AddDataTrigger(const std::string& match, bool ignore_case) {
    MutexLock guard(state_lock_);
    TDataTrigger trigger;
    trigger.Handle = NewHandle();
    trigger.Match = match;
    trigger.IgnoreCase = ignore_case;
    triggers_.DataTriggers.push_back(trigger);
    return trigger.Handle;
}

std::uint16_t TBaseDispatcher::AddTimerTrigger() {
    MutexLock guard(state_lock_);
    TTimerTrigger trigger;
    trigger.Handle = NewHandle();
    triggers_.TimerTriggers.push_back(trigger);
    return trigger.Handle;
}

std::uint16_t TBaseDispatcher::AddStatusTrigger(TStatusTriggerKind kind) {
    MutexLock guard(state_lock_);
    TStatusTrigger trigger;
    trigger.Handle = NewHandle();
    trigger.Kind = kind;
    triggers_.StatusTriggers.push_back(trigger);
    return trigger.Handle;
}

int TBaseDispatcher::SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool enabled) {
    MutexLock guard(state_lock_);
    for (auto& trigger : triggers_.TimerTriggers) {
        if (trigger.Handle != handle) continue;
        trigger.Timer = NewTimer(ticks);
        trigger.Enabled = enabled;
        TriggersArmed();
        return ecOK;
    }
    return ecBadArgument;
}

int TBaseDispatcher::SetStatusTrigger(std::uint16_t handle, std::uint32_t value, bool enabled) {
    MutexLock guard(state_lock_);
    for (auto& trigger : triggers_.StatusTriggers) {
        if (trigger.Handle != handle) continue;
        trigger.Value = value;
        trigger.Enabled = enabled;
        TriggersArmed();
        return ecOK;
    }
    return ecBadArgument;
}

int TBaseDispatcher::RemoveTrigger(std::uint16_t handle) {
    MutexLock guard(state_lock_);
    const auto same = [handle](const auto& trigger) { return trigger.Handle == handle; };
    const std::size_t removed = std::erase_if(triggers_.DataTriggers, same) +
                                std::erase_if(triggers_.TimerTriggers, same) +
                                std::erase_if(triggers_.StatusTriggers, same);
    UpdateOutputWatch();
    return removed > 0 ? ecOK : ecBadArgument;
}

void TBaseDispatcher::SetComponentHandler(TTriggerHandler handler) {
    MutexLock guard(state_lock_);
    component_handler_ = std::move(handler);
}

void TBaseDispatcher::RegisterProcTriggerHandler(TTriggerHandler handler) {
    MutexLock guard(state_lock_);
    proc_handlers_.push_back(std::move(handler));
}

}  // namespace velka
