// TBaseDispatcher: the object under the port component that owns the open device,
// its line and flow settings, the 8192-byte dispatch buffer that received bytes
// wait in, the output ring that written bytes wait in, the I/O queue between the
// device layer's threads and the dispatch thread, and the triggers.
//
// A device layer (TPosixDispatcher, later a Win32 one) derives from it and supplies
// the device operations. Every operation answers 0 (or a count) for success and a
// negative status code (serial/ser_except.h) for failure.
//
// Threads: the component's operations may be called from any thread; the dispatch
// thread and the device layer's threads run between InitPort and DonePort.
// Locks: state_lock_ (control block, line and flow state, triggers, handlers),
// output_lock_ (output ring), data_lock_ (dispatch buffer) and the I/O queue's own.
// Two are held together only in these orders: data_lock_ then the queue's lock
// (moving or flushing input); state_lock_ then data_lock_ or output_lock_ (a
// notification's handlers read and write while the trigger lists are held); any
// of them then a device layer's own lock around its device calls.
// Trigger handlers run on the dispatch thread and must not close the port.
// Wakes: the dispatch thread sleeps on the I/O queue until an entry arrives, the
// nearest armed timer trigger falls due, or the queue is woken (a kill, a trigger
// armed, the event-busy flag cleared, output that an armed status trigger watches,
// room made in a full dispatch buffer); idle with nothing armed, it never wakes.
// A stop signal (platform/stop_signal.h) takes data_lock_ to wake WaitForData.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"
#include "platform/stop_signal.h"
#include "platform/ticks.h"
#include "serial/ser_misc.h"
#include "serial/ser_queue.h"

namespace velka {

// Queue counts that GetComError fills in.
struct TComStat {
    std::uint32_t InQueue = 0;   // bytes the driver holds, not yet read
    std::uint32_t OutQueue = 0;  // bytes waiting to be sent
};

enum class TStatusTriggerKind { ModemStatus, LineError, OutbuffFree, OutbuffUsed, OutSent };

struct TDataTrigger {
    std::uint16_t Handle = 0;
    std::string Match;
    bool IgnoreCase = false;
    std::size_t Matched = 0;  // bytes of Match seen so far
};
struct TTimerTrigger {
    std::uint16_t Handle = 0;
    EventTimer Timer;
    bool Enabled = false;
};
struct TStatusTrigger {
    std::uint16_t Handle = 0;
    TStatusTriggerKind Kind = TStatusTriggerKind::ModemStatus;
    std::uint32_t Value = 0;  // modem-status or line-error mask, or a byte level
    bool Enabled = false;
};
// The triggers carried over a close and reopen.
struct TTriggerSave {
    std::uint16_t LengthTrigger = 1;
    std::uint16_t NextHandle = 1;
    std::vector<TDataTrigger> DataTriggers;
    std::vector<TTimerTrigger> TimerTriggers;
    std::vector<TStatusTrigger> StatusTriggers;
};

enum class TUpdateHandlerFlags { fuKeepPort, fuEnablePort, fuDisablePort };

// A notification: the kind, the trigger's handle (0 for bytes available), and the
// byte count for bytes available, else the status trigger kind as a number.
using TTriggerHandler = std::function<void(TTriggerMessage, std::uint16_t, int)>;

class TBaseDispatcher {
  public:
    TBaseDispatcher();
    // A device layer must call StopDispatcher() in its own destructor, while its
    // device operations still exist.
    virtual ~TBaseDispatcher();
    TBaseDispatcher(const TBaseDispatcher&) = delete;
    TBaseDispatcher& operator=(const TBaseDispatcher&) = delete;

    // --- The component's operations ---

    // Opens and configures the device and starts the threads. Blocks for the open.
    int InitPort(const std::string& device_name, std::uint32_t baud, int parity, int data_bits,
                 int stop_bits, int in_size, int out_size, std::uint32_t flow_word);
    // Flushes, stops the threads, closes the device. The buffers stay until the
    // object dies, so that a wait still running in another thread reads nothing
    // but never freed memory. Safe to call twice.
    int DonePort();
    // 0 keeps the baud, 5 the parity, 9 the data bits, 3 the stop bits. Waits for
    // the output to drain before it changes a setting.
    int SetLine(std::uint32_t baud, int parity, int data_bits, int stop_bits);
    int HWFlowOptions(int buffer_full, int buffer_resume, int options);
    int SWFlowEnable(int buffer_full, int buffer_resume, int options);
    int SWFlowDisable();
    int SWFlowChars(char xon, char xoff);
    // 1 and nothing done while the line is automatic (handled by the driver).
    int SetDtr(bool on);
    int SetRts(bool on);

    bool CharReady();
    // 0 and the oldest received byte, or -3007 when none waits. Never blocks.
    int GetChar(std::uint8_t& c);
    // Queues the whole block for sending or nothing: -3006 when the output ring
    // lacks room, -3004 when the device layer refuses. Never waits for the line.
    int PutBlock(const std::uint8_t* bytes, int n);
    int FlushInBuffer();
    int FlushOutBuffer();
    int InBuffUsed();
    int InBuffFree();
    int OutBuffUsed();
    int OutBuffFree();

    // Sleeps until at least `count` received bytes are ready (true), or the
    // deadline (kNever: none) passes, the stop is set, or the port is closed or its
    // device vanished (false). Every way out wakes the wait at once; nothing wakes
    // it otherwise. `wake`, when given, ends the wait like the stop: a caller that
    // also waits for something other than the port. Any thread; both may be null.
    [[nodiscard]] bool WaitForData(std::chrono::steady_clock::time_point deadline,
                                   const StopSignal* stop, int count = 1,
                                   const StopSignal* wake = nullptr);

    // Sleeps until the output ring has room for n bytes (true), or the deadline
    // passes or the port closes (false). For writers that have more than a ring.
    [[nodiscard]] bool WaitForOutputRoom(int n, std::chrono::steady_clock::time_point deadline);
    // Opens the named device and closes it again at once: 0, or minus the system
    // error (2: no such device, 5: in use). For port availability; no threads run.
    int ProbeDevice(const std::string& device_name);

    // Sets the event-busy flag and returns its previous value.
    bool SetEventBusy(bool busy);
    void ChangeLengthTrigger(std::uint16_t length);
    void UpdateHandlerFlags(TUpdateHandlerFlags flag);
    void SaveTriggers(TTriggerSave& save);
    void RestoreTriggers(const TTriggerSave& save);

    std::uint16_t AddDataTrigger(const std::string& match, bool ignore_case);
    std::uint16_t AddTimerTrigger();
    std::uint16_t AddStatusTrigger(TStatusTriggerKind kind);
    // -1002 for an unknown handle.
    int SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool enabled);
    int SetStatusTrigger(std::uint16_t handle, std::uint32_t value, bool enabled);
    int RemoveTrigger(std::uint16_t handle);
    // The component's own handler; notifications are sent only while it is enabled
    // (UpdateHandlerFlags) or procedure handlers are registered.
    void SetComponentHandler(TTriggerHandler handler);
    void RegisterProcTriggerHandler(TTriggerHandler handler);

    // True after the device failed or vanished and the dispatcher tore itself down.
    bool DeviceGone() const { return device_gone_; }
    bool Active() const { return active_; }
    std::uint8_t ModemStatus();
    int LastSystemError() const { return last_system_error_; }
    int LastError() const { return last_error_; }
    TDeviceControlBlock ControlBlock();

    // --- Device operations (a device layer supplies them) ---

    virtual int ProcessCommunications() = 0;

  protected:
    // Returns a handle (0 or more), or -1 with LastSystemError set.
    virtual int OpenCom(const std::string& name, int in_size, int out_size) = 0;
    // Ends every thread, the dispatch thread included, and closes the device.
    virtual int CloseCom() = 0;
    [[nodiscard]] virtual bool SetupCom(int in_size, int out_size) = 0;
    virtual int GetComState(TDeviceControlBlock& block) = 0;
    virtual int SetComState(const TDeviceControlBlock& block) = 0;
    virtual int EscapeComFunction(int function) = 0;
    // 0: discard unsent output; 1: discard unread input held by the device layer.
    virtual int FlushCom(int which) = 0;
    virtual int GetComError(TComStat& status) = 0;
    virtual int StartDispatcher() = 0;
    // CloseCom when active.
    virtual void StopDispatcher();
    // The operations both device layers share, over the I/O queue and the output ring.
    virtual int ReadCom(std::uint8_t* buffer, int n);
    virtual int WriteCom(const std::uint8_t* buffer, int n);
    virtual int OutBufUsed();
    virtual int InQueueUsed();

    // --- Services for the device layer ---

    // Starts the dispatch thread; JoinDispatchThread ends it (not from itself).
    void StartDispatchThread();
    void JoinDispatchThread();
    bool OnDispatchThread() const;
    // Tells every thread to end and wakes every wait of the dispatcher.
    void Kill();
    // Called by each thread as it ends: -160 and -161 note the failure.
    void ThreadEnded(int end_code);
    // Under the output lock, moves everything waiting in the output ring into
    // `block` (replacing its content) and empties the ring. Sleeps until there is
    // output, a flush is requested, or the kill flag is set. False when killed.
    // A requested flush is acknowledged and answered with an empty block.
    [[nodiscard]] bool TakeOutput(std::vector<std::uint8_t>& block);
    // True while a flush has been requested that the write thread has not acknowledged.
    bool FlushRequested();
    // The write thread says the block it took is written (or abandoned).
    void OutputWritten();
    // Empties the output ring, asks the write thread to abandon its block and waits
    // for its acknowledgement, at most 5,000 ms.
    void AbandonOutput(bool writer_running);
    void SetLastSystemError(int error) { last_system_error_ = error; }

    std::atomic<bool> kill_{false};
    TIOQueue io_queue_;

  private:
    void DispatchLoop();
    void WaitForWork();
    std::chrono::steady_clock::time_point NextTimerDeadline() EXCLUDES(state_lock_);
    void RoomMadeLocked(bool any_room = false) REQUIRES(data_lock_);
    void OutputChanged();
    void TriggersArmed() REQUIRES(state_lock_);
    void UpdateOutputWatch() REQUIRES(state_lock_);
    void DispatchCycle();
    void TakeStatusEvent();
    void ExtractData();
    void CheckReceiveTriggers();
    bool CheckStatusTriggers();
    bool CheckTimerTriggers();
    void Notify(TTriggerMessage message, std::uint16_t handle, int data) REQUIRES(state_lock_);
    void TearDown();
    int WaitTxSent();
    int SetCommStateFix(TDeviceControlBlock block) REQUIRES(state_lock_);
    int ApplyLineLevels() REQUIRES(state_lock_);
    int BufferUsedLocked() const REQUIRES(data_lock_);
    bool CharReadyLocked() const REQUIRES(data_lock_);
    int AvailableLocked() const REQUIRES(data_lock_);
    bool ClosedForIO() const { return device_gone_ || closed_; }
    std::uint16_t NewHandle() REQUIRES(state_lock_);

    // Guards the control block, line and flow state, triggers and handlers.
    RecursiveMutex state_lock_;
    TDeviceControlBlock dcb_ GUARDED_BY(state_lock_);
    int in_size_ = 4096;   // set at InitPort, then constant
    int out_size_ = 4096;  // set at InitPort, then constant
    bool dtr_state_ GUARDED_BY(state_lock_) = true;
    bool dtr_auto_ GUARDED_BY(state_lock_) = false;
    bool rts_state_ GUARDED_BY(state_lock_) = true;
    bool rts_auto_ GUARDED_BY(state_lock_) = false;
    std::uint8_t modem_status_ GUARDED_BY(state_lock_) = 0;
    std::uint32_t line_error_ GUARDED_BY(state_lock_) = 0;
    TTriggerSave triggers_ GUARDED_BY(state_lock_);
    std::size_t last_notified_used_ GUARDED_BY(state_lock_) = 0;
    bool component_wants_ GUARDED_BY(state_lock_) = false;
    TTriggerHandler component_handler_ GUARDED_BY(state_lock_);
    std::vector<TTriggerHandler> proc_handlers_ GUARDED_BY(state_lock_);

    // Guards the dispatch buffer and its indices; data_ready_ is signalled when
    // bytes reach it, and when the port closes or its device vanishes.
    Mutex data_lock_;
    ConditionVariable data_ready_;
    // The dispatch thread sleeps until a full dispatch buffer has room for a block;
    // GetChar then wakes it through the I/O queue.
    bool room_wanted_ GUARDED_BY(data_lock_) = false;
    std::vector<std::uint8_t> dbuffer_ GUARDED_BY(data_lock_);
    int dhead_ GUARDED_BY(data_lock_) = 0;  // next byte to hand out
    int dtail_ GUARDED_BY(data_lock_) = 0;  // next free place
    bool dfull_ GUARDED_BY(data_lock_) = false;
    // While a notification is being sent, handlers read ahead of the head.
    bool in_notification_ GUARDED_BY(data_lock_) = false;
    int notify_read_ GUARDED_BY(data_lock_) = 0;
    int notify_max_read_ GUARDED_BY(data_lock_) = 0;

    // Guards the output ring; output_changed_ is signalled when output is added,
    // taken or written, a flush is requested or acknowledged, and at kill.
    Mutex output_lock_;
    ConditionVariable output_changed_;
    std::vector<std::uint8_t> obuffer_ GUARDED_BY(output_lock_);
    int ohead_ GUARDED_BY(output_lock_) = 0;  // next free place
    int otail_ GUARDED_BY(output_lock_) = 0;  // next byte to send
    bool ofull_ GUARDED_BY(output_lock_) = false;
    bool writing_ GUARDED_BY(output_lock_) = false;  // a taken block is being written
    std::uint64_t flush_requested_ GUARDED_BY(output_lock_) = 0;
    std::uint64_t flush_acked_ GUARDED_BY(output_lock_) = 0;

    std::atomic<bool> event_busy_{false};
    // An enabled status trigger watches the output ring: output changes wake the
    // dispatch thread. Written under state_lock_, read without it.
    std::atomic<bool> output_watched_{false};
    std::atomic<bool> closed_{false};
    std::atomic<bool> device_gone_{false};
    std::atomic<bool> active_{false};
    std::atomic<int> last_system_error_{0};
    std::atomic<int> last_error_{0};
    std::uint32_t last_baud_ GUARDED_BY(state_lock_) = 115200;

    std::thread dispatch_thread_;  // started and joined by the device layer
};

// The device layer of the system being built (TPosixDispatcher on POSIX).
std::unique_ptr<TBaseDispatcher> NewPlatformDispatcher();

}  // namespace velka
