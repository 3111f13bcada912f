#include "serial/ser_win32.h"

#include <algorithm>
#include <utility>

#include "serial/ser_except.h"

namespace velka {

namespace {

constexpr DWORD kReadWaitMs = 50;
constexpr DWORD kPendingStepMs = 100;
// A cancelled operation that the driver does not give back within this is left to
// the handle's close; its OVERLAPPED block lives on in the dispatcher.
constexpr DWORD kCancelWaitMs = 1000;

// received character, CTS, DSR, carrier, break, line error, ring
constexpr DWORD kEventMask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;
constexpr DWORD kModemLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr DWORD kQueuedEvents = 0x21F8;  // everything but the received character

// Errors that mean the device is gone (unplugged, or the far end of a line that
// the system emulates closed), not that it failed.
bool Vanished(DWORD error) {
    return error == ERROR_INVALID_HANDLE || error == ERROR_BROKEN_PIPE ||
           error == ERROR_DEVICE_NOT_CONNECTED;
}

DCB ToDcb(DCB dcb, const TDeviceControlBlock& block) {
    using B = TDeviceControlBlock;
    dcb.BaudRate = block.BaudRate;
    dcb.fBinary = (block.Flags & B::fBinary) != 0;
    dcb.fParity = (block.Flags & B::fParity) != 0;
    dcb.fOutxCtsFlow = (block.Flags & B::fOutxCtsFlow) != 0;
    dcb.fOutxDsrFlow = (block.Flags & B::fOutxDsrFlow) != 0;
    dcb.fDtrControl = block.DtrControl();
    dcb.fDsrSensitivity = (block.Flags & B::fDsrSensitivity) != 0;
    dcb.fTXContinueOnXoff = (block.Flags & B::fTXContinueOnXoff) != 0;
    dcb.fOutX = (block.Flags & B::fOutX) != 0;
    dcb.fInX = (block.Flags & B::fInX) != 0;
    dcb.fNull = (block.Flags & B::fNull) != 0;
    dcb.fRtsControl = block.RtsControl();
    dcb.XonLim = block.XonLim;
    dcb.XoffLim = block.XoffLim;
    dcb.ByteSize = block.ByteSize;
    dcb.Parity = block.Parity;
    dcb.StopBits = block.StopBits;
    dcb.XonChar = block.XonChar;
    dcb.XoffChar = block.XoffChar;
    return dcb;
}

TDeviceControlBlock FromDcb(const DCB& dcb) {
    using B = TDeviceControlBlock;
    TDeviceControlBlock block;
    block.BaudRate = dcb.BaudRate;
    block.Flags = (dcb.fBinary ? B::fBinary : 0) | (dcb.fParity ? B::fParity : 0) |
                  (dcb.fOutxCtsFlow ? B::fOutxCtsFlow : 0) |
                  (dcb.fOutxDsrFlow ? B::fOutxDsrFlow : 0) |
                  (dcb.fDsrSensitivity ? B::fDsrSensitivity : 0) |
                  (dcb.fTXContinueOnXoff ? B::fTXContinueOnXoff : 0) | (dcb.fOutX ? B::fOutX : 0) |
                  (dcb.fInX ? B::fInX : 0) | (dcb.fNull ? B::fNull : 0);
    block.SetDtrControl(dcb.fDtrControl);
    block.SetRtsControl(dcb.fRtsControl);
    block.XonLim = dcb.XonLim;
    block.XoffLim = dcb.XoffLim;
    block.ByteSize = dcb.ByteSize;
    block.Parity = dcb.Parity;
    block.StopBits = dcb.StopBits;
    block.XonChar = dcb.XonChar;
    block.XoffChar = dcb.XoffChar;
    return block;
}

void JoinIfRunning(std::thread& thread) {
    if (thread.joinable()) thread.join();
}

}  // namespace

TWin32Event::TWin32Event(bool manual_reset)
    : handle_(CreateEventA(nullptr, manual_reset, FALSE, nullptr)) {
    if (handle_ == nullptr) throw ESerialException(ecOutOfMemory);
}

TWin32Event::~TWin32Event() {
    CloseHandle(handle_);
}

// --- The device threads ---

// What the three device threads share: the dispatcher, the end code, and the wait
// for an overlapped operation that polls the kill flag every 100 ms.
class TWin32Thread {
  public:
    explicit TWin32Thread(TWin32Dispatcher& dispatcher) : d_(dispatcher) {}

  protected:
    enum class Outcome { Done, Cancelled, Stopped, Failed };

    // What a failed call means: cancelled (a purge or a close aborted it) or failed.
    static Outcome FailureOutcome(DWORD error) {
        return error == ERROR_OPERATION_ABORTED ? Outcome::Cancelled : Outcome::Failed;
    }

    // Waits for the pending operation (and for `stop_also`, when given, which stops
    // it like the kill flag does). Done: `count` holds the bytes moved. Cancelled:
    // something else aborted it. Stopped: the kill flag or `stop_also` ended the
    // wait and the operation was cancelled. Failed: the system error is in `error`.
    Outcome AwaitPending(TOverlapped& io, DWORD& count, DWORD& error,
                         bool (*stop_also)(TWin32Dispatcher&) = nullptr) {
        while (!d_.kill_ && !(stop_also && stop_also(d_))) {
            const DWORD waited = WaitForSingleObject(io.Done.get(), kPendingStepMs);
            if (waited == WAIT_TIMEOUT) continue;
            if (waited != WAIT_OBJECT_0) {
                error = GetLastError();
                return Outcome::Failed;
            }
            if (GetOverlappedResult(d_.handle_, &io.Block, &count, TRUE)) return Outcome::Done;
            error = GetLastError();
            count = 0;
            return FailureOutcome(error);
        }
        CancelIoEx(d_.handle_, &io.Block);
        WaitForSingleObject(io.Done.get(), kCancelWaitMs);
        return Outcome::Stopped;
    }

    // The end: a failure's code is noted (unless the device vanished) and every
    // thread is told to end.
    void Fail(int code, DWORD error) {
        if (!Vanished(error)) {
            d_.SetLastSystemError(static_cast<int>(error));
            end_code_ = code;
        }
        d_.Kill();
    }

    TWin32Dispatcher& d_;
    int end_code_ = ecOK;
};

class TReadThread : public TWin32Thread {
  public:
    using TWin32Thread::TWin32Thread;

    void Execute() {
        // Reads return at once with what the driver holds.
        COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
        SetCommTimeouts(d_.handle_, &timeouts);
        d_.read_block_ = std::make_unique<TDataBuffer>();
        while (!d_.kill_) {
            const DWORD waited = WaitForSingleObject(d_.serial_event_.get(), kReadWaitMs);
            if (waited != WAIT_OBJECT_0 && waited != WAIT_TIMEOUT) {
                Fail(ecDeviceRead, GetLastError());
                break;
            }
            if (!ReadWhileData()) break;
        }
        d_.ThreadEnded(end_code_);
    }

  private:
    // Reads and queues blocks until a read gives nothing. False at the end.
    [[nodiscard]] bool ReadWhileData() {
        while (!d_.kill_) {
            DWORD count = 0;
            DWORD error = 0;
            switch (Read(count, error)) {
                case Outcome::Failed:
                    Fail(ecDeviceRead, error);
                    return false;
                case Outcome::Stopped:
                    return false;
                case Outcome::Cancelled:  // counts as a read of nothing
                case Outcome::Done:
                    break;
            }
            if (count == 0) return true;
            d_.read_block_->Filled = static_cast<int>(count);
            d_.io_queue_.Push(std::exchange(d_.read_block_, std::make_unique<TDataBuffer>()));
        }
        return false;
    }

    Outcome Read(DWORD& count, DWORD& error) {
        d_.read_io_.Reset();
        auto& data = d_.read_block_->Data;
        if (ReadFile(d_.handle_, data.data(), static_cast<DWORD>(data.size()), &count,
                     &d_.read_io_.Block)) {
            return Outcome::Done;
        }
        error = GetLastError();
        if (error != ERROR_IO_PENDING) return FailureOutcome(error);
        return AwaitPending(d_.read_io_, count, error);
    }
};

class TWriteThread : public TWin32Thread {
  public:
    using TWin32Thread::TWin32Thread;

    void Execute() {
        while (d_.TakeOutput(d_.write_block_)) {
            const bool written = WriteBlock();
            d_.OutputWritten();
            if (!written) break;
        }
        d_.ThreadEnded(end_code_);
    }

  private:
    static bool Flushing(TWin32Dispatcher& d) { return d.FlushRequested(); }

    // Writes the block until every byte is out; a flush or a stop abandons the
    // rest. False when the write failed (and every thread is told to end).
    [[nodiscard]] bool WriteBlock() {
        const auto& block = d_.write_block_;
        std::size_t written = 0;
        while (written < block.size() && !d_.kill_ && !d_.FlushRequested()) {
            d_.write_io_.Reset();
            DWORD count = 0;
            DWORD error = 0;
            Outcome outcome = Outcome::Done;
            if (!WriteFile(d_.handle_, block.data() + written,
                           static_cast<DWORD>(block.size() - written), &count,
                           &d_.write_io_.Block)) {
                error = GetLastError();
                outcome = error == ERROR_IO_PENDING
                              ? AwaitPending(d_.write_io_, count, error, &Flushing)
                              : FailureOutcome(error);
            }
            if (outcome == Outcome::Failed) {
                Fail(ecDeviceWrite, error);
                return false;
            }
            // A purge, a flush or a stop ends the block quietly.
            if (outcome != Outcome::Done) break;
            written += count;
        }
        return true;
    }
};

class TStatusThread : public TWin32Thread {
  public:
    using TWin32Thread::TWin32Thread;

    void Execute() {
        DWORD mask = kEventMask;
        SetCommMask(d_.handle_, mask);
        while (!d_.kill_) {
            DWORD events = 0;
            DWORD error = 0;
            const Outcome outcome = WaitEvent(events, error);
            if (outcome == Outcome::Stopped || outcome == Outcome::Cancelled) break;
            if (outcome == Outcome::Failed) {
                if (!NarrowMask(mask, error)) {
                    Fail(ecDeviceRead, error);
                    break;
                }
                continue;
            }
            if (events & EV_RXCHAR) d_.serial_event_.Signal();
            if (events & kQueuedEvents) d_.io_queue_.Push(std::make_unique<TStatusBuffer>(events));
        }
        d_.ThreadEnded(end_code_);
    }

  private:
    Outcome WaitEvent(DWORD& events, DWORD& error) {
        d_.status_io_.Reset();
        d_.status_events_ = 0;
        if (WaitCommEvent(d_.handle_, &d_.status_events_, &d_.status_io_.Block)) {
            events = d_.status_events_;
            return Outcome::Done;
        }
        error = GetLastError();
        if (error != ERROR_IO_PENDING) return Outcome::Failed;  // a refused mask included
        DWORD unused = 0;
        const Outcome outcome = AwaitPending(d_.status_io_, unused, error);
        events = d_.status_events_;
        return outcome;
    }

    // A driver that refuses the mask: without the ring trailing edge, which older
    // drivers lack; then without the modem lines, which a line without them (a
    // pseudo-terminal mapped as a COM port) cannot report. False when nothing is
    // left to drop.
    [[nodiscard]] bool NarrowMask(DWORD& mask, DWORD error) {
        if (error == ERROR_INVALID_PARAMETER && (mask & EV_RING_TE_BIT)) {
            mask &= ~EV_RING_TE_BIT;
        } else if ((error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED) &&
                   (mask & kModemLineEvents)) {
            mask &= ~kModemLineEvents;
        } else {
            return false;
        }
        return SetCommMask(d_.handle_, mask) != 0;
    }

    static constexpr DWORD EV_RING_TE_BIT = 0x2000;
};

// --- The dispatcher ---

std::unique_ptr<TBaseDispatcher> NewPlatformDispatcher() {
    return std::make_unique<TWin32Dispatcher>();
}

TWin32Dispatcher::~TWin32Dispatcher() {
    CloseCom();
}

int TWin32Dispatcher::ProcessCommunications() {
    Sleep(0);
    return ecOK;
}

int TWin32Dispatcher::OpenCom(const std::string& name, int, int) {
    const HANDLE handle =
        CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        SetLastSystemError(static_cast<int>(GetLastError()));
        return -1;
    }
    std::lock_guard guard(close_lock_);
    handle_ = handle;
    return 0;
}

int TWin32Dispatcher::CloseCom() {
    int result = ecOK;
    // Kill takes the data and output locks, which callers may hold while they
    // take the close lock (a flush of input): so it comes first, outside.
    Kill();
    {
        std::lock_guard guard(close_lock_);
        if (handle_ != INVALID_HANDLE_VALUE) SetCommMask(handle_, 0);  // ends WaitCommEvent
        serial_event_.Signal();
        JoinIfRunning(status_thread_);
        JoinIfRunning(write_thread_);
        JoinIfRunning(read_thread_);
        if (handle_ != INVALID_HANDLE_VALUE) {
            result = CloseHandle(handle_) ? ecOK : -1;
            handle_ = INVALID_HANDLE_VALUE;
        }
    }
    // Outside the close lock: a dispatch thread tearing down waits for that lock.
    JoinDispatchThread();
    return result;
}

template <typename Op>
int TWin32Dispatcher::WithDevice(Op op) {
    std::lock_guard guard(close_lock_);
    return handle_ == INVALID_HANDLE_VALUE ? ecCommNotOpen : op();
}

bool TWin32Dispatcher::SetupCom(int in_size, int out_size) {
    return WithDevice([&] {
               if (SetupComm(handle_, static_cast<DWORD>(in_size), static_cast<DWORD>(out_size)))
                   return ecOK;
               SetLastSystemError(static_cast<int>(GetLastError()));
               return -1;
           }) == ecOK;
}

int TWin32Dispatcher::GetComState(TDeviceControlBlock& block) {
    return WithDevice([&] {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb)) return -1;
        block = FromDcb(dcb);
        return ecOK;
    });
}

int TWin32Dispatcher::SetComState(const TDeviceControlBlock& block) {
    return WithDevice([&] {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb)) return -static_cast<int>(GetLastError());
        dcb = ToDcb(dcb, block);
        return SetCommState(handle_, &dcb) ? ecOK : -static_cast<int>(GetLastError());
    });
}

int TWin32Dispatcher::EscapeComFunction(int function) {
    // A line without modem lines refuses; that is no failure of the port.
    WithDevice([&] { return EscapeCommFunction(handle_, static_cast<DWORD>(function)) ? 0 : -1; });
    return ecOK;
}

int TWin32Dispatcher::FlushCom(int which) {
    return WithDevice([&] {
        if (which == 0) {
            // The ring first, so that the write thread takes nothing more from it;
            // then what the driver still holds.
            AbandonOutput(write_thread_.joinable());
            const BOOL purged = PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
            return purged ? ecOK : -static_cast<int>(GetLastError());
        }
        const BOOL purged = PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR);
        io_queue_.Clear();
        return purged ? ecOK : -static_cast<int>(GetLastError());
    });
}

int TWin32Dispatcher::GetComError(TComStat& status) {
    status.OutQueue = static_cast<std::uint32_t>(OutBufUsed());
    const int errors = WithDevice([&] {
        DWORD error_bits = 0;
        COMSTAT driver{};
        if (!ClearCommError(handle_, &error_bits, &driver)) return 0;
        status.InQueue = driver.cbInQue;
        return static_cast<int>(error_bits);
    });
    return std::max(errors, 0);  // a closed port has no line errors
}

int TWin32Dispatcher::StartDispatcher() {
    if (Active()) throw ESerialException(std::string("Dispatcher already started."));
    kill_ = false;
    ResetEvent(serial_event_.get());
    read_thread_ = std::thread([this] { TReadThread(*this).Execute(); });
    StartDispatchThread();
    write_thread_ = std::thread([this] { TWriteThread(*this).Execute(); });
    status_thread_ = std::thread([this] { TStatusThread(*this).Execute(); });
    return ecOK;
}

}  // namespace velka
