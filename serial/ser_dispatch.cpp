#include "serial/ser_dispatch.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/result.h"
#include "platform/wait.h"
#include "serial/ser_except.h"
#include "serial/ser_match.h"

namespace velka {

namespace {

using std::chrono::milliseconds;

// A drain wait for SetLine gives up after this; a stuck line must not hang a caller.
constexpr milliseconds kDrainLimit{10000};
constexpr int kKeepBaud = 0;
constexpr int kKeepParity = 5;
constexpr int kKeepDataBits = 9;
constexpr int kKeepStopBits = 3;

std::uint8_t StopBitsCode(int stop_bits, int data_bits) {
    if (stop_bits <= 1) return kOneStopBit;
    // Five-bit characters have one and a half stop bits where others have two.
    return data_bits == 5 ? kOne5StopBits : kTwoStopBits;
}

// Time to send 18 characters, so that the UART has shifted out the last byte
// before the line settings change under it.
milliseconds EighteenCharacterTimes(const TDeviceControlBlock& block, std::uint32_t baud) {
    if (baud == 0) baud = 115200;
    int bits = block.ByteSize + 2;
    if (block.Parity != pNone) ++bits;
    if (block.StopBits != kOneStopBit) ++bits;
    std::int64_t hundred_ns = std::int64_t{10'000'000 / baud} * bits * 18;
    if (hundred_ns < 10'000) hundred_ns *= 2;
    return milliseconds((hundred_ns + 9'999) / 10'000);
}

}  // namespace

TBaseDispatcher::TBaseDispatcher() = default;

TBaseDispatcher::~TBaseDispatcher() {
    if (dispatch_thread_.joinable()) dispatch_thread_.join();
}

// --- Opening and closing ---

int TBaseDispatcher::InitPort(const std::string& device_name, std::uint32_t baud, int parity,
                              int data_bits, int stop_bits, int in_size, int out_size,
                              std::uint32_t flow_word) {
    kill_ = false;
    closed_ = false;
    device_gone_ = false;
    last_error_ = 0;
    in_size_ = in_size;
    out_size_ = out_size;
    if (OpenCom(device_name, in_size, out_size) < 0) {
        const int error = last_system_error_;
        return error > 0 ? -error : ecBadHandle;
    }
    if (!SetupCom(in_size, out_size)) {
        const int error = last_system_error_;
        DonePort();
        return error > 0 ? -error : ecMemory;
    }
    {
        MutexLock guard(data_lock_);
        dbuffer_.assign(kDispatchBufferSize, 0);
        dhead_ = dtail_ = 0;
        dfull_ = false;
    }
    {
        MutexLock guard(output_lock_);
        obuffer_.assign(static_cast<std::size_t>(out_size), 0);
        ohead_ = otail_ = 0;
        ofull_ = false;
    }
    {
        MutexLock guard(state_lock_);
        GetComState(dcb_);
        dtr_auto_ = (flow_word & kFlowDtrAuto) != 0;
        dtr_state_ = (flow_word & kFlowDtrOn) != 0;
        rts_auto_ = (flow_word & kFlowRtsAuto) != 0;
        rts_state_ = (flow_word & kFlowRtsOn) != 0;
        triggers_ = TTriggerSave{};
        modem_status_ = 0;
        line_error_ = 0;
        last_baud_ = 115200;
    }
    if (const int result = SetLine(baud, parity, data_bits, stop_bits); result < 0) {
        DonePort();
        return result;
    }
    if (const int result = StartDispatcher(); result < 0) {
        DonePort();
        return result;
    }
    return ecOK;
}

int TBaseDispatcher::DonePort() {
    {
        MutexLock guard(data_lock_);
        closed_ = true;
    }
    data_ready_.notify_all();
    if (!device_gone_) {
        FlushCom(0);
        FlushCom(1);
    }
    // A wait in another thread may still hold the dispatcher: it has been woken,
    // sees the close and leaves, and the buffers die with the object after it.
    const int result = CloseCom();
    active_ = false;
    return result;
}

void TBaseDispatcher::StopDispatcher() {
    if (active_) CloseCom();
    active_ = false;
}

void TBaseDispatcher::TearDown() {
    {
        MutexLock guard(data_lock_);
        device_gone_ = true;
    }
    data_ready_.notify_all();
    CloseCom();
}

// --- Line and flow settings ---

int TBaseDispatcher::SetLine(std::uint32_t baud, int parity, int data_bits, int stop_bits) {
    TDeviceControlBlock block;
    {
        MutexLock guard(state_lock_);
        block = dcb_;
    }
    block.Flags |= TDeviceControlBlock::fBinary | TDeviceControlBlock::fTXContinueOnXoff;
    block.Flags &= ~(TDeviceControlBlock::fParity | TDeviceControlBlock::fDsrSensitivity |
                     TDeviceControlBlock::fNull);
    if (baud != kKeepBaud) block.BaudRate = baud;
    if (parity != kKeepParity) block.Parity = static_cast<std::uint8_t>(parity);
    if (data_bits != kKeepDataBits) block.ByteSize = static_cast<std::uint8_t>(data_bits);
    if (stop_bits != kKeepStopBits) {
        block.StopBits = StopBitsCode(std::clamp(stop_bits, 1, 2), block.ByteSize);
    }
    if (block.ByteSize < 5 || block.ByteSize > 8) return ecByteSize;
    if (block.Parity > pSpace) return ecBadArgument;
    {
        MutexLock guard(state_lock_);
        if (block == dcb_) return ecOK;
    }
    if (const int drained = WaitTxSent(); drained < 0) return drained;
    MutexLock guard(state_lock_);
    return SetCommStateFix(block);
}

int TBaseDispatcher::WaitTxSent() {
    std::uint32_t baud;
    TDeviceControlBlock block;
    {
        MutexLock guard(state_lock_);
        baud = last_baud_;
        block = dcb_;
    }
    {
        MutexLock guard(output_lock_);
        const auto drained = [this]() REQUIRES(output_lock_) {
            return kill_ || (!ofull_ && ohead_ == otail_ && !writing_);
        };
        output_changed_.wait_for(output_lock_, kDrainLimit, drained);
    }
    std::this_thread::sleep_for(EighteenCharacterTimes(block, baud));
    return ecOK;
}

// REQUIRES: state_lock_ held.
int TBaseDispatcher::SetCommStateFix(TDeviceControlBlock block) {
    if (!dtr_auto_) block.SetDtrControl(dtr_state_ ? kLineEnable : kLineDisable);
    if (!rts_auto_) block.SetRtsControl(rts_state_ ? kLineEnable : kLineDisable);
    if (const int result = SetComState(block); result < 0) return result;
    dcb_ = block;
    last_baud_ = block.BaudRate;
    return ApplyLineLevels();
}

// REQUIRES: state_lock_ held.
int TBaseDispatcher::ApplyLineLevels() {
    if (!dtr_auto_) EscapeComFunction(dtr_state_ ? kSetDtr : kClrDtr);
    if (!rts_auto_) EscapeComFunction(rts_state_ ? kSetRts : kClrRts);
    return ecOK;
}

int TBaseDispatcher::HWFlowOptions(int buffer_full, int buffer_resume, int options) {
    if (buffer_resume > buffer_full || buffer_full > in_size_) return ecBadArgument;
    MutexLock guard(state_lock_);
    TDeviceControlBlock block = dcb_;
    block.Flags &= ~(TDeviceControlBlock::fOutxCtsFlow | TDeviceControlBlock::fOutxDsrFlow);
    dtr_auto_ = (options & kHWUseDtr) != 0;
    rts_auto_ = (options & kHWUseRts) != 0;
    block.SetDtrControl(dtr_auto_ ? kLineHandshake : dtr_state_ ? kLineEnable : kLineDisable);
    block.SetRtsControl(rts_auto_ ? kLineHandshake : rts_state_ ? kLineEnable : kLineDisable);
    block.XoffLim = static_cast<std::uint16_t>(in_size_ - buffer_full);
    block.XonLim = static_cast<std::uint16_t>(buffer_resume);
    if (options & kHWRequireDsr) block.Flags |= TDeviceControlBlock::fOutxDsrFlow;
    if (options & kHWRequireCts) block.Flags |= TDeviceControlBlock::fOutxCtsFlow;
    return SetCommStateFix(block);
}

int TBaseDispatcher::SWFlowEnable(int buffer_full, int buffer_resume, int options) {
    if (buffer_resume > buffer_full || buffer_full > in_size_) return ecBadArgument;
    MutexLock guard(state_lock_);
    TDeviceControlBlock block = dcb_;
    if (options & kSWReceive) {
        block.Flags |= TDeviceControlBlock::fInX;
        block.XoffLim = static_cast<std::uint16_t>(in_size_ - buffer_full);
        block.XonLim = static_cast<std::uint16_t>(buffer_resume);
    }
    if (options & kSWTransmit) block.Flags |= TDeviceControlBlock::fOutX;
    block.XonChar = 17;
    block.XoffChar = 19;
    return SetCommStateFix(block);
}

int TBaseDispatcher::SWFlowDisable() {
    MutexLock guard(state_lock_);
    TDeviceControlBlock block = dcb_;
    block.Flags &= ~(TDeviceControlBlock::fInX | TDeviceControlBlock::fOutX);
    return SetCommStateFix(block);
}

int TBaseDispatcher::SWFlowChars(char xon, char xoff) {
    MutexLock guard(state_lock_);
    TDeviceControlBlock block = dcb_;
    block.XonChar = xon;
    block.XoffChar = xoff;
    return SetCommStateFix(block);
}

int TBaseDispatcher::SetDtr(bool on) {
    MutexLock guard(state_lock_);
    if (dtr_auto_) return 1;
    dtr_state_ = on;
    dcb_.SetDtrControl(on ? kLineEnable : kLineDisable);
    return EscapeComFunction(on ? kSetDtr : kClrDtr);
}

int TBaseDispatcher::SetRts(bool on) {
    MutexLock guard(state_lock_);
    if (rts_auto_) return 1;
    rts_state_ = on;
    dcb_.SetRtsControl(on ? kLineEnable : kLineDisable);
    return EscapeComFunction(on ? kSetRts : kClrRts);
}

TDeviceControlBlock TBaseDispatcher::ControlBlock() {
    MutexLock guard(state_lock_);
    return dcb_;
}

std::uint8_t TBaseDispatcher::ModemStatus() {
    MutexLock guard(state_lock_);
    return modem_status_;
}

// --- Threads ---

void TBaseDispatcher::StartDispatchThread() {
    active_ = true;
    dispatch_thread_ = std::thread([this] { DispatchLoop(); });
}

void TBaseDispatcher::JoinDispatchThread() {
    if (dispatch_thread_.joinable() && !OnDispatchThread()) dispatch_thread_.join();
}

bool TBaseDispatcher::OnDispatchThread() const {
    return dispatch_thread_.get_id() == std::this_thread::get_id();
}

void TBaseDispatcher::Kill() {
    kill_ = true;
    io_queue_.Wake();
    { MutexLock guard(output_lock_); }
    output_changed_.notify_all();
    { MutexLock guard(data_lock_); }
    data_ready_.notify_all();
}

void TBaseDispatcher::ThreadEnded(int end_code) {
    if (end_code < 0) last_error_ = end_code;
}

void TBaseDispatcher::DispatchLoop() {
    while (!kill_ && !closed_) {
        WaitForWork();
        if (kill_ || closed_) break;
        DispatchCycle();
    }
    // Killed by a failing device layer, not by a close: the dispatcher takes itself
    // down, and the port stays counted as open until its owner closes it.
    if (!closed_) TearDown();
}

// Sleeps until there is something to move, the I/O queue is woken (a kill, a
// trigger armed, output that a status trigger watches) or the nearest armed timer
// trigger falls due; with nothing armed and nothing arriving it never wakes. While
// the dispatch buffer is full, waiting data is no work: only room for a block is,
// and GetChar wakes the queue when it has made that room.
void TBaseDispatcher::WaitForWork() {
    const auto deadline = NextTimerDeadline();
    bool full = false;
    {
        MutexLock guard(data_lock_);
        full = dfull_;
        room_wanted_ = full;
    }
    if (full) {
        io_queue_.WaitForWake(deadline);
    } else {
        // Woken or timed out, the cycle that follows looks at whatever has come.
        IgnoreFailure(io_queue_.WaitForBuffer(deadline));
    }
}

std::chrono::steady_clock::time_point TBaseDispatcher::NextTimerDeadline() {
    MutexLock guard(state_lock_);
    // While a wait holds the event-busy flag no trigger fires; clearing the flag
    // wakes the dispatch thread.
    if (event_busy_) return kNever;
    auto deadline = kNever;
    for (const auto& trigger : triggers_.TimerTriggers) {
        if (trigger.Enabled) deadline = std::min(deadline, TimerDeadline(trigger.Timer));
    }
    return deadline;
}

void TBaseDispatcher::DispatchCycle() {
    TakeStatusEvent();
    ExtractData();
    // While a wait holds the event-busy flag, no trigger is looked at.
    if (event_busy_) return;
    CheckReceiveTriggers();
    while (!closed_ && (CheckStatusTriggers() || CheckTimerTriggers())) {
    }
}

void TBaseDispatcher::TakeStatusEvent() {
    const std::uint32_t mask = io_queue_.TakeStatus();
    if (mask == 0) return;
    TComStat status;
    const int line_errors = (mask & (evBreak | evErr)) ? GetComError(status) : 0;
    MutexLock guard(state_lock_);
    std::uint8_t deltas = 0;
    if (mask & evCts) deltas |= msCtsDelta;
    if (mask & evDsr) deltas |= msDsrDelta;
    if (mask & evRlsd) deltas |= msDcdDelta;
    if (mask & (evRing | evRingTe)) deltas |= msRingDelta;
    modem_status_ = static_cast<std::uint8_t>((modem_status_ & 0xF0) | deltas);
    if (line_errors > 0) line_error_ |= static_cast<std::uint32_t>(line_errors);
}

void TBaseDispatcher::ExtractData() {
    int moved = 0;
    int first_new = 0;
    // Bytes moved while a wait holds the event-busy flag are the wait's to read;
    // no trigger may announce them later.
    const bool busy = event_busy_;
    {
        MutexLock guard(data_lock_);
        if (dfull_ || dbuffer_.empty()) return;
        first_new = dtail_;
        // The free span runs from the tail to the head, or to the ring's end first.
        const int to_end = dtail_ >= dhead_ ? kDispatchBufferSize - dtail_ : dhead_ - dtail_;
        moved = ReadCom(dbuffer_.data() + dtail_, to_end);
        dtail_ = (dtail_ + moved) % kDispatchBufferSize;
        if (moved == to_end && dtail_ == 0 && dhead_ > 0) {
            const int second = ReadCom(dbuffer_.data(), dhead_);
            dtail_ = second;
            moved += second;
        }
        if (moved > 0 && dtail_ == dhead_) dfull_ = true;
    }
    if (moved == 0) return;
    data_ready_.notify_all();
    if (busy) return;
    // The data triggers see each new byte once, in order.
    std::string fresh;
    {
        MutexLock guard(data_lock_);
        for (int i = 0; i < moved; ++i) {
            fresh.push_back(static_cast<char>(
                dbuffer_[static_cast<std::size_t>((first_new + i) % kDispatchBufferSize)]));
        }
    }
    MutexLock guard(state_lock_);
    for (auto& trigger : triggers_.DataTriggers) {
        if (trigger.Match.empty()) continue;
        for (const char c : fresh) {
            trigger.Matched = AdvanceMatch(trigger.Match, trigger.Matched, c, trigger.IgnoreCase);
            if (trigger.Matched == trigger.Match.size()) {
                trigger.Matched = 0;
                Notify(TTriggerMessage::TriggerData, trigger.Handle, 0);
            }
        }
    }
}

void TBaseDispatcher::CheckReceiveTriggers() {
    const int used = InBuffUsed();
    MutexLock guard(state_lock_);
    const bool grew = static_cast<std::size_t>(used) > last_notified_used_;
    last_notified_used_ = static_cast<std::size_t>(used);
    if (grew && used >= triggers_.LengthTrigger && triggers_.LengthTrigger > 0) {
        Notify(TTriggerMessage::TriggerAvail, 0, used);
        last_notified_used_ = static_cast<std::size_t>(InBuffUsed());
    }
}

bool TBaseDispatcher::CheckStatusTriggers() {
    const int used = OutBuffUsed();
    bool writing;
    {
        MutexLock guard(output_lock_);
        writing = writing_;
    }
    MutexLock guard(state_lock_);
    for (auto& trigger : triggers_.StatusTriggers) {
        if (!trigger.Enabled) continue;
        bool fires = false;
        switch (trigger.Kind) {
            case TStatusTriggerKind::ModemStatus:
                fires = (modem_status_ & trigger.Value & 0x0F) != 0;
                break;
            case TStatusTriggerKind::LineError:
                fires = (line_error_ & trigger.Value) != 0;
                break;
            case TStatusTriggerKind::OutbuffFree:
                fires = out_size_ - used >= static_cast<int>(trigger.Value);
                break;
            case TStatusTriggerKind::OutbuffUsed:
                fires = used <= static_cast<int>(trigger.Value);
                break;
            case TStatusTriggerKind::OutSent:
                fires = used == 0 && !writing;
                break;
        }
        if (!fires) continue;
        // A status trigger fires once; its owner sets it again to re-arm it.
        trigger.Enabled = false;
        UpdateOutputWatch();
        if (trigger.Kind == TStatusTriggerKind::ModemStatus) modem_status_ &= 0xF0;
        if (trigger.Kind == TStatusTriggerKind::LineError) line_error_ = 0;
        Notify(TTriggerMessage::TriggerStatus, trigger.Handle, static_cast<int>(trigger.Kind));
        return true;
    }
    return false;
}

bool TBaseDispatcher::CheckTimerTriggers() {
    MutexLock guard(state_lock_);
    for (auto& trigger : triggers_.TimerTriggers) {
        if (trigger.Enabled && TimerExpired(trigger.Timer)) {
            trigger.Enabled = false;
            Notify(TTriggerMessage::TriggerTimer, trigger.Handle, 0);
            return true;
        }
    }
    return false;
}

// REQUIRES: state_lock_ held (it is re-entrant, so a handler may set triggers).
void TBaseDispatcher::Notify(TTriggerMessage message, std::uint16_t handle, int data) {
    std::vector<TTriggerHandler> handlers = proc_handlers_;
    if (component_wants_ && component_handler_)
        handlers.insert(handlers.begin(), component_handler_);
    if (handlers.empty()) return;
    const bool was_busy = SetEventBusy(true);
    {
        MutexLock guard(data_lock_);
        in_notification_ = true;
        notify_max_read_ = 0;
    }
    for (const auto& handler : handlers) {
        {
            MutexLock guard(data_lock_);
            notify_read_ = 0;
        }
        handler(message, handle, data);
        MutexLock guard(data_lock_);
        notify_max_read_ = std::max(notify_max_read_, notify_read_);
    }
    {
        // Every handler saw the same bytes; the head moves past the most any took.
        MutexLock guard(data_lock_);
        in_notification_ = false;
        const int taken = std::min(notify_max_read_, BufferUsedLocked());
        dhead_ = (dhead_ + taken) % kDispatchBufferSize;
        if (taken > 0) dfull_ = false;
        RoomMadeLocked();
    }
    SetEventBusy(was_busy);
}

}  // namespace velka
