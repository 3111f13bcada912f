#include "serial/ser_port.h"

#include <utility>

#include "platform/result.h"
#include "platform/ticks.h"
#include "serial/ser_except.h"
#include "serial/ser_match.h"

namespace velka {

namespace {

// With an event pump the wait wakes this often to let it run.
constexpr auto kPumpPeriod = std::chrono::milliseconds(50);

int SoftwareFlowBits(TSWFlowOptions options) {
    switch (options) {
        case TSWFlowOptions::swfReceive:
            return kSWReceive;
        case TSWFlowOptions::swfTransmit:
            return kSWTransmit;
        case TSWFlowOptions::swfBoth:
            return kSWReceive | kSWTransmit;
        default:
            return 0;
    }
}

// The open's system errors that the port gives a meaning of its own.
int OpenResult(int code) {
    if (code == ecAccessDenied) return ecAlreadyOpen;
    if (code == ecFileNotFound || code == ecPathNotFound) return ecBadId;
    return code;
}

}  // namespace

TCustomComPort::~TCustomComPort() {
    try {
        SetOpen(false);
    } catch (const ESerialException&) {
        // A close that had a reopen pending opens again, and that open may fail; a
        // destructor must not throw, and the port is going away either way.
    }
}

std::string TCustomComPort::DeviceName(std::uint16_t n) {
    return "\\\\.\\COM" + std::to_string(n);
}

bool TCustomComPort::Open() const {
    MutexLock guard(lifecycle_lock_);
    return open_;
}

TPortState TCustomComPort::PortState() const {
    MutexLock guard(lifecycle_lock_);
    return state_;
}

// --- Opening and closing ---

void TCustomComPort::SetOpen(bool open) {
    if (open) {
        {
            MutexLock guard(lifecycle_lock_);
            if (open_) return;
            if (state_ != TPortState::psClosed) {
                open_pending_ = true;  // the close under way opens again when done
                return;
            }
        }
        InitPort();
        return;
    }
    std::shared_ptr<TBaseDispatcher> dispatcher;
    {
        MutexLock guard(lifecycle_lock_);
        if (state_ != TPortState::psOpen) return;
        state_ = TPortState::psShuttingDown;
        dispatcher = dispatcher_;
    }
    PortClosing();
    dispatcher->SaveTriggers(saved_triggers_);
    has_saved_triggers_ = true;
    // Wakes every wait on the port; a wait in another thread keeps its own
    // reference to the dispatcher and sees the shutdown, so nothing is deferred.
    dispatcher->DonePort();
    bool reopen;
    {
        MutexLock guard(lifecycle_lock_);
        dispatcher_.reset();
        state_ = TPortState::psClosed;
        open_ = false;
        reopen = std::exchange(open_pending_, false);
    }
    dispatcher.reset();
    PortClose();
    if (reopen) InitPort();
}

void TCustomComPort::InitPort() {
    if (tapi_mode_ != TTapiMode::tmOn) ValidateComport();
    std::shared_ptr<TBaseDispatcher> dispatcher = ActivateDeviceLayer();
    AdjustThresholds();
    const int result =
        dispatcher->InitPort(DeviceName(com_number_), static_cast<std::uint32_t>(baud_), parity_,
                             data_bits_, stop_bits_, in_size_, out_size_, FlowWord());
    CheckException(OpenResult(result));
    {
        MutexLock guard(lifecycle_lock_);
        dispatcher_ = dispatcher;
        state_ = TPortState::psOpen;
    }
    try {
        ApplySettings(*dispatcher);
    } catch (...) {
        MutexLock guard(lifecycle_lock_);
        dispatcher_.reset();
        state_ = TPortState::psClosed;
        open_ = false;
        dispatcher->DonePort();
        throw;
    }
    {
        MutexLock guard(lifecycle_lock_);
        open_ = true;
    }
    if (has_saved_triggers_) dispatcher->RestoreTriggers(saved_triggers_);
    PortOpen();
}

void TCustomComPort::ApplySettings(TBaseDispatcher& dispatcher) {
    UpdateHandlerFlag();
    force_ = true;
    ApplyFlow(dispatcher);
    dispatcher.ChangeLengthTrigger(trigger_length_);
    CheckException(dispatcher.SetDtr(dtr_));
    CheckException(dispatcher.SetRts(rts_));
    force_ = false;
}

void TCustomComPort::ValidateComport() {
    if (com_number_ != 0) return;
    const std::optional<std::uint16_t> chosen =
        prompt_for_port_ && port_selector_ ? port_selector_() : std::nullopt;
    if (!chosen || *chosen == 0) throw ENoPortSelected();
    SetComNumber(*chosen);
}

std::unique_ptr<TBaseDispatcher> TCustomComPort::ActivateDeviceLayer() {
    if (layer_callback_) return layer_callback_(*this);
    if (device_layer_ != TDeviceLayer::dlWin32) throw ENullApi();
    return NewPlatformDispatcher();
}

std::uint32_t TCustomComPort::FlowWord() const {
    std::uint32_t word = 0;
    if (dtr_) word |= kFlowDtrOn;
    if (rts_) word |= kFlowRtsOn;
    if (hw_flow_ & hwfUseDTR) word |= kFlowDtrAuto;
    if (hw_flow_ & hwfUseRTS) word |= kFlowRtsAuto;
    return word;
}

void TCustomComPort::PortOpen() {
    if (OnPortOpen) OnPortOpen(*this);
}

void TCustomComPort::PortClose() {
    if (OnPortClose) OnPortClose(*this);
}

void TCustomComPort::SetComNumber(std::uint16_t n) {
    if (n == com_number_) return;
    if (PortState() != TPortState::psOpen) {
        com_number_ = n;
        return;
    }
    // The close saves the triggers and the open restores them.
    SetOpen(false);
    com_number_ = n;
    SetOpen(true);
}

// --- Dispatcher access ---

std::shared_ptr<TBaseDispatcher> TCustomComPort::OpenDispatcher() const {
    MutexLock guard(lifecycle_lock_);
    return state_ == TPortState::psOpen ? dispatcher_ : nullptr;
}

std::shared_ptr<TBaseDispatcher> TCustomComPort::DispatcherForIO() {
    bool open_first;
    {
        MutexLock guard(lifecycle_lock_);
        if (state_ == TPortState::psShuttingDown) return nullptr;
        if (dispatcher_) return dispatcher_;
        open_first = auto_open_;
    }
    if (open_first) SetOpen(true);
    MutexLock guard(lifecycle_lock_);
    if (state_ == TPortState::psShuttingDown) return nullptr;
    if (!dispatcher_) throw ECommNotOpen();
    return dispatcher_;
}

template <typename Result, typename Op>
Result TCustomComPort::WithDispatcher(Result shutting_down, Op op) {
    MutexLock guard(lifecycle_lock_);
    if (!dispatcher_ && state_ == TPortState::psClosed) {
        guard.unlock();
        DispatcherForIO();  // opens the port, or raises
        guard.lock();
    }
    if (state_ == TPortState::psShuttingDown || !dispatcher_) return shutting_down;
    return op(*dispatcher_);
}

// --- I/O operations ---

void TCustomComPort::FlushInBuffer() {
    if (auto dispatcher = DispatcherForIO()) CheckException(dispatcher->FlushInBuffer());
}

void TCustomComPort::FlushOutBuffer() {
    if (auto dispatcher = DispatcherForIO()) CheckException(dispatcher->FlushOutBuffer());
}

bool TCustomComPort::CharReady() {
    return WithDispatcher(false,
                          [](TBaseDispatcher& dispatcher) { return dispatcher.CharReady(); });
}

char TCustomComPort::GetChar() {
    std::uint8_t c = 0;
    const int result =
        WithDispatcher(ecOK, [&c](TBaseDispatcher& dispatcher) { return dispatcher.GetChar(c); });
    CheckException(result);
    return static_cast<char>(c);
}

void TCustomComPort::PutString(const std::string& s) {
    const auto dispatcher = DispatcherForIO();
    if (!dispatcher || s.empty()) return;
    CheckException(dispatcher->PutBlock(reinterpret_cast<const std::uint8_t*>(s.data()),
                                        static_cast<int>(s.size())));
}

void TCustomComPort::ProcessCommunications() {
    if (auto dispatcher = DispatcherForIO()) CheckException(dispatcher->ProcessCommunications());
}

bool TCustomComPort::WaitCharReady(std::chrono::steady_clock::time_point deadline,
                                   const StopSignal* wake) {
    const auto dispatcher = DispatcherForIO();
    return dispatcher && dispatcher->WaitForData(deadline, stop_flag_, 1, wake);
}

bool TCustomComPort::WaitForString(const std::string& s, std::int32_t timeout, bool handle_events,
                                   bool ignore_case) {
    if (s.empty()) return true;
    const auto dispatcher = DispatcherForIO();
    if (!dispatcher) return false;
    // No trigger handler may take characters behind the wait's back.
    const bool was_busy = dispatcher->SetEventBusy(true);
    const EventTimer timer = NewTimer(timeout);
    const auto deadline = TimerDeadline(timer);
    const auto stopped = [&] {
        return PortState() != TPortState::psOpen || dispatcher->DeviceGone() ||
               (stop_flag_ && stop_flag_->IsSet());
    };
    std::size_t index = 0;
    bool finished = false;
    bool interrupted = false;
    while (!finished) {
        if (stopped()) {
            interrupted = true;
            break;
        }
        std::uint8_t byte = 0;
        if (dispatcher->GetChar(byte) == ecOK) {
            const char c = static_cast<char>(byte);
            WaitChar(c);
            index = AdvanceMatch(s, index, c, ignore_case);
            finished = index == s.size() || TimerExpired(timer);
            continue;
        }
        finished = TimerExpired(timer);
        if (finished) break;
        // Data, a time-out or a stop: the loop looks at each in turn.
        if (handle_events && event_pump_) {
            event_pump_();
            IgnoreFailure(dispatcher->WaitForData(
                std::min(deadline, std::chrono::steady_clock::now() + kPumpPeriod), stop_flag_));
        } else {
            IgnoreFailure(dispatcher->WaitForData(deadline, stop_flag_));
        }
    }
    // A match found only after the time ran out counts as a time-out.
    const bool result = !interrupted && !TimerExpired(timer);
    if (!was_busy) dispatcher->SetEventBusy(false);
    return result;
}

// --- Triggers ---

std::uint16_t TCustomComPort::AddDataTrigger(const std::string& match, bool ignore_case) {
    const auto dispatcher = DispatcherForIO();
    if (!dispatcher) throw ECommNotOpen();
    return dispatcher->AddDataTrigger(match, ignore_case);
}

std::uint16_t TCustomComPort::AddTimerTrigger() {
    const auto dispatcher = DispatcherForIO();
    if (!dispatcher) throw ECommNotOpen();
    return dispatcher->AddTimerTrigger();
}

std::uint16_t TCustomComPort::AddStatusTrigger(TStatusTriggerKind kind) {
    const auto dispatcher = DispatcherForIO();
    if (!dispatcher) throw ECommNotOpen();
    return dispatcher->AddStatusTrigger(kind);
}

void TCustomComPort::SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool enabled) {
    if (auto dispatcher = DispatcherForIO()) {
        CheckException(dispatcher->SetTimerTrigger(handle, ticks, enabled));
    }
}

void TCustomComPort::SetStatusTrigger(std::uint16_t handle, std::uint32_t value, bool enabled) {
    if (auto dispatcher = DispatcherForIO()) {
        CheckException(dispatcher->SetStatusTrigger(handle, value, enabled));
    }
}

void TCustomComPort::RemoveTrigger(std::uint16_t handle) {
    if (auto dispatcher = DispatcherForIO()) CheckException(dispatcher->RemoveTrigger(handle));
}

void TCustomComPort::UpdateHandlerFlag() {
    const auto dispatcher = OpenDispatcher();
    if (!dispatcher) return;
    const bool wanted = OnTrigger || OnTriggerAvail || OnTriggerData || OnTriggerStatus ||
                        OnTriggerTimer || OnTriggerLineError || OnTriggerModemStatus ||
                        OnTriggerOutbuffFree || OnTriggerOutbuffUsed || OnTriggerOutSent;
    dispatcher->SetComponentHandler([this](TTriggerMessage message, std::uint16_t handle,
                                           int data) { HandleTrigger(message, handle, data); });
    dispatcher->UpdateHandlerFlags(wanted ? TUpdateHandlerFlags::fuEnablePort
                                          : TUpdateHandlerFlags::fuDisablePort);
}

void TCustomComPort::HandleTrigger(TTriggerMessage message, std::uint16_t handle, int data) {
    if (OnTrigger) OnTrigger(*this, message, handle, data);
    switch (message) {
        case TTriggerMessage::TriggerAvail:
            if (OnTriggerAvail) OnTriggerAvail(*this, data);
            break;
        case TTriggerMessage::TriggerData:
            if (OnTriggerData) OnTriggerData(*this, handle);
            break;
        case TTriggerMessage::TriggerTimer:
            if (OnTriggerTimer) OnTriggerTimer(*this, handle);
            break;
        case TTriggerMessage::TriggerStatus: {
            if (OnTriggerStatus) OnTriggerStatus(*this, handle);
            const TPortEvent* specific = nullptr;
            switch (static_cast<TStatusTriggerKind>(data)) {
                case TStatusTriggerKind::ModemStatus:
                    specific = &OnTriggerModemStatus;
                    break;
                case TStatusTriggerKind::LineError:
                    specific = &OnTriggerLineError;
                    break;
                case TStatusTriggerKind::OutbuffFree:
                    specific = &OnTriggerOutbuffFree;
                    break;
                case TStatusTriggerKind::OutbuffUsed:
                    specific = &OnTriggerOutbuffUsed;
                    break;
                case TStatusTriggerKind::OutSent:
                    specific = &OnTriggerOutSent;
                    break;
            }
            if (specific && *specific) (*specific)(*this);
            break;
        }
    }
}

// --- Property setters ---

void TCustomComPort::SetDeviceLayer(TDeviceLayer layer) {
    // Only the supported layers, and only while no dispatcher exists.
    if (layer == TDeviceLayer::dlWin32 && PortState() == TPortState::psClosed)
        device_layer_ = layer;
}

void TCustomComPort::ApplyLine() {
    if (const auto dispatcher = OpenDispatcher()) {
        CheckException(dispatcher->SetLine(static_cast<std::uint32_t>(baud_), parity_, data_bits_,
                                           stop_bits_));
    }
}

void TCustomComPort::SetBaud(std::int32_t baud) {
    baud_ = baud;
    ApplyLine();
}

void TCustomComPort::SetParity(TParity parity) {
    parity_ = parity;
    ApplyLine();
}

void TCustomComPort::SetDataBits(std::uint16_t bits) {
    data_bits_ = bits;
    ApplyLine();
}

void TCustomComPort::SetStopBits(std::uint16_t bits) {
    stop_bits_ = bits;
    ApplyLine();
}

void TCustomComPort::SetDTR(bool on) {
    const bool changed = on != dtr_;
    dtr_ = on;
    const auto dispatcher = OpenDispatcher();
    if (dispatcher && ShouldApply(changed)) CheckException(dispatcher->SetDtr(on));
}

void TCustomComPort::SetRTS(bool on) {
    const bool changed = on != rts_;
    rts_ = on;
    const auto dispatcher = OpenDispatcher();
    if (dispatcher && ShouldApply(changed)) CheckException(dispatcher->SetRts(on));
}

void TCustomComPort::SetRS485Mode(bool on) {
    // RS-485 transmit control uses RTS, which hardware flow control owns.
    rs485_mode_ = on && !(hw_flow_ & (hwfUseRTS | hwfRequireCTS));
}

void TCustomComPort::AdjustThresholds() {
    double full_factor = 0;
    double resume_factor = 0;
    if (hw_flow_ != 0) {
        full_factor = 0.9;
        resume_factor = 0.1;
    } else if (sw_flow_ != TSWFlowOptions::swfNone) {
        full_factor = 0.75;
        resume_factor = 0.25;
    } else {
        return;
    }
    if (buffer_full_ == 0 || buffer_full_ > in_size_) {
        buffer_full_ = static_cast<std::uint16_t>(in_size_ * full_factor);
    }
    if (buffer_resume_ == 0 || buffer_resume_ > buffer_full_) {
        buffer_resume_ = static_cast<std::uint16_t>(in_size_ * resume_factor);
    }
}

void TCustomComPort::ApplyFlow(TBaseDispatcher& dispatcher) {
    AdjustThresholds();
    CheckException(dispatcher.HWFlowOptions(buffer_full_, buffer_resume_, hw_flow_));
    const int sw_bits = SoftwareFlowBits(sw_flow_);
    if (sw_bits != 0) {
        CheckException(dispatcher.SWFlowEnable(buffer_full_, buffer_resume_, sw_bits));
    } else {
        CheckException(dispatcher.SWFlowDisable());
    }
    CheckException(dispatcher.SWFlowChars(xon_char_, xoff_char_));
}

void TCustomComPort::SetHWFlowOptions(THWFlowOptions options) {
    const bool changed = options != hw_flow_;
    hw_flow_ = options;
    if (options & (hwfUseRTS | hwfRequireCTS)) rs485_mode_ = false;
    AdjustThresholds();
    const auto dispatcher = OpenDispatcher();
    if (dispatcher && ShouldApply(changed)) ApplyFlow(*dispatcher);
}

void TCustomComPort::SetSWFlowOptions(TSWFlowOptions options) {
    const bool changed = options != sw_flow_;
    sw_flow_ = options;
    AdjustThresholds();
    const auto dispatcher = OpenDispatcher();
    if (dispatcher && ShouldApply(changed)) ApplyFlow(*dispatcher);
}

void TCustomComPort::SetXOnChar(char c) {
    const bool changed = c != xon_char_;
    xon_char_ = c;
    const auto dispatcher = OpenDispatcher();
    if (dispatcher && ShouldApply(changed))
        CheckException(dispatcher->SWFlowChars(xon_char_, xoff_char_));
}

void TCustomComPort::SetXOffChar(char c) {
    const bool changed = c != xoff_char_;
    xoff_char_ = c;
    const auto dispatcher = OpenDispatcher();
    if (dispatcher && ShouldApply(changed))
        CheckException(dispatcher->SWFlowChars(xon_char_, xoff_char_));
}

void TCustomComPort::SetBufferFull(std::uint16_t level) {
    buffer_full_ = level > in_size_ ? static_cast<std::uint16_t>(level * 0.9) : level;
    force_ = true;
    SetHWFlowOptions(hw_flow_);
    force_ = false;
}

void TCustomComPort::SetBufferResume(std::uint16_t level) {
    buffer_resume_ = level > buffer_full_ ? static_cast<std::uint16_t>(buffer_full_ * 0.1) : level;
    force_ = true;
    SetHWFlowOptions(hw_flow_);
    force_ = false;
}

}  // namespace velka
