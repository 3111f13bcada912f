// TWin32Dispatcher: the device layer on the Win32 serial interface. The device
// ("\\.\COMn") is opened for overlapped I/O and served by three threads next to
// the dispatch thread:
//   read thread   (TReadThread)   - waits for the serial event at most 50 ms, then
//                   reads 256-byte TDataBuffer blocks (a zero read time-out gives
//                   what the driver holds) and queues them;
//   write thread  (TWriteThread)  - sleeps until the output ring holds data, copies
//                   it out under the output lock and writes it outside the lock; a
//                   flush abandons the rest of the block;
//   status thread (TStatusThread) - WaitCommEvent on the received-character, modem
//                   line, break and line-error events: a received character wakes the
//                   read thread, the other events go onto the I/O queue.
// When a read or write fails or the device vanishes, the threads end and the
// dispatcher tears itself down; the port then needs a close and a new open.
// Each overlapped operation's OVERLAPPED block belongs to this object, so that an
// operation the system completes late (after its thread gave up on it at a close)
// never writes into freed memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/ser_dispatch.h"

namespace velka {

// An event object, closed with its owner. Manual reset for overlapped operations.
class TWin32Event {
  public:
    explicit TWin32Event(bool manual_reset);
    ~TWin32Event();
    TWin32Event(const TWin32Event&) = delete;
    TWin32Event& operator=(const TWin32Event&) = delete;
    HANDLE get() const { return handle_; }
    void Signal() { SetEvent(handle_); }

  private:
    HANDLE handle_;
};

// One overlapped operation's block and event, reused by one thread.
struct TOverlapped {
    TOverlapped() { Block.hEvent = Done.get(); }
    TWin32Event Done{true};
    OVERLAPPED Block{};
    void Reset() {
        Block = OVERLAPPED{};
        Block.hEvent = Done.get();
        ResetEvent(Done.get());
    }
};

class TWin32Dispatcher : public TBaseDispatcher {
  public:
    TWin32Dispatcher() = default;
    ~TWin32Dispatcher() override;

    int ProcessCommunications() override;

  protected:
    int OpenCom(const std::string& name, int in_size, int out_size) override;
    int CloseCom() override;
    [[nodiscard]] bool SetupCom(int in_size, int out_size) override;
    int GetComState(TDeviceControlBlock& block) override;
    int SetComState(const TDeviceControlBlock& block) override;
    int EscapeComFunction(int function) override;
    int FlushCom(int which) override;
    int GetComError(TComStat& status) override;
    int StartDispatcher() override;

  private:
    friend class TWin32Thread;
    friend class TReadThread;
    friend class TWriteThread;
    friend class TStatusThread;

    // The device calls of the caller's thread run under close_lock_, so that a
    // teardown on the dispatch thread cannot close the handle under them.
    template <typename Op>
    int WithDevice(Op op);

    HANDLE handle_ = INVALID_HANDLE_VALUE;     // changed by OpenCom and CloseCom (close_lock_)
    TWin32Event serial_event_{false};          // a character arrived: wakes the read thread
    TOverlapped read_io_;                      // the read thread's operation
    TOverlapped write_io_;                     // the write thread's operation
    TOverlapped status_io_;                    // the status thread's operation
    DWORD status_events_ = 0;                  // filled by the pending WaitCommEvent
    std::unique_ptr<TDataBuffer> read_block_;  // the block a pending read fills
    std::vector<std::uint8_t> write_block_;    // the block a pending write sends
    std::thread read_thread_;
    std::thread write_thread_;
    std::thread status_thread_;
    std::mutex close_lock_;  // one CloseCom at a time; guards handle_ for the caller's calls
};

}  // namespace velka
