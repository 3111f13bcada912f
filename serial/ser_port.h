// TCustomComPort / TComPort: the serial port object. It keeps the line, buffer and
// flow settings as properties, makes a dispatcher (serial/ser_dispatch.h) when the
// port opens and drops it when the port closes, and raises every negative status
// code of the dispatcher as its exception (serial/ser_except.h) in the calling
// thread.
//
// Threads: one thread opens the port and does the I/O; another may close it (or
// set a stop flag) at any time. A close from another thread wakes every wait at
// once; the dispatcher lives on until the last operation that holds it returns,
// so a wait in progress never touches freed memory, and it reports failure.
//
// Waiting never spins: WaitForString and WaitCharReady sleep on the dispatcher
// until a byte arrives, their deadline passes, the port closes or the stop signal
// given by SetStopFlag is set; each of these wakes them at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/mutex.h"
#include "serial/ser_dispatch.h"
#include "serial/ser_misc.h"

namespace velka {

// dlWin32 names the system's own serial device layer (TPosixDispatcher on POSIX).
enum class TDeviceLayer { dlWin32, dlWinsock };
enum class TPortState { psClosed, psShuttingDown, psOpen };
enum class TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
enum class TTapiMode { tmNone, tmAuto, tmOn, tmOff };

// A set of hardware flow options; the values are the dispatcher's option bits.
using THWFlowOptions = std::uint8_t;
inline constexpr THWFlowOptions hwfUseDTR = 1;
inline constexpr THWFlowOptions hwfUseRTS = 2;
inline constexpr THWFlowOptions hwfRequireDSR = 4;
inline constexpr THWFlowOptions hwfRequireCTS = 8;

class TCustomComPort;
using TPortEvent = std::function<void(TCustomComPort&)>;
using TTriggerEvent = std::function<void(TCustomComPort&, TTriggerMessage, std::uint16_t, int)>;
using THandleEvent = std::function<void(TCustomComPort&, std::uint16_t)>;
using TCountEvent = std::function<void(TCustomComPort&, int)>;
// Makes the dispatcher at open in place of the system's device layer.
using TDeviceLayerCallback = std::function<std::unique_ptr<TBaseDispatcher>(TCustomComPort&)>;
// The port selection dialog: the chosen number, or nothing when the user cancelled.
using TPortSelector = std::function<std::optional<std::uint16_t>()>;

class TCustomComPort {
  public:
    TCustomComPort() = default;
    // Closes the port when it is open.
    virtual ~TCustomComPort();
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;

    // --- The I/O operations. While the port shuts down they return at once
    // (CharReady false, GetChar 0, WaitForString false). On a closed port they
    // open it first when AutoOpen is set, else raise ECommNotOpen. ---

    // Stores n; an open port is closed and opened again on the new number, with
    // its triggers, tracing and logging carried over. Blocks for the reopen.
    void SetComNumber(std::uint16_t n);
    // Opens (blocking until the device is configured and the threads run) or closes.
    void SetOpen(bool open);
    bool Open() const;
    TPortState PortState() const;
    void FlushInBuffer();
    void FlushOutBuffer();
    bool CharReady();
    // The oldest received character; EBufferIsEmpty when none waits. Never blocks.
    char GetChar();
    // Queues all of s for sending, or nothing (EOutputBufferTooSmall). Does not wait.
    void PutString(const std::string& s);
    // Consumes received characters until s has arrived as a contiguous run (true)
    // or `timeout` ticks of 55 ms have passed (false). Characters after the match
    // stay. False at once when the port shuts down, its device vanishes or the
    // stop flag is set. With ignore_case, Windows-1251 upper-case forms compare.
    // With handle_events, the event pump (SetEventPump) runs between waits.
    [[nodiscard]] bool WaitForString(const std::string& s, std::int32_t timeout, bool handle_events,
                                     bool ignore_case);
    // Sleeps until a received character is ready (true), or the deadline passes,
    // the stop flag or `wake` is set, or the port closes or its device vanishes
    // (false). Opens or raises like the other I/O operations.
    [[nodiscard]] bool WaitCharReady(std::chrono::steady_clock::time_point deadline,
                                     const StopSignal* wake = nullptr);
    void ProcessCommunications();

    // Every wait of the port also ends, at once, when the stop is set. Null: none.
    // Set it before the waits start; the signal must outlive the port.
    void SetStopFlag(const StopSignal* stop) { stop_flag_ = stop; }
    void SetDeviceLayerCallback(TDeviceLayerCallback callback) {
        layer_callback_ = std::move(callback);
    }
    void SetPortSelector(TPortSelector selector) { port_selector_ = std::move(selector); }
    void SetEventPump(std::function<void()> pump) { event_pump_ = std::move(pump); }
    // The device name that an open of port n uses.
    static std::string DeviceName(std::uint16_t n);

    // Triggers of the dispatcher (see TBaseDispatcher); they survive SetComNumber.
    std::uint16_t AddDataTrigger(const std::string& match, bool ignore_case);
    std::uint16_t AddTimerTrigger();
    std::uint16_t AddStatusTrigger(TStatusTriggerKind kind);
    void SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool enabled);
    void SetStatusTrigger(std::uint16_t handle, std::uint32_t value, bool enabled);
    void RemoveTrigger(std::uint16_t handle);
    // Tells the dispatcher whether any trigger event is assigned; call it after
    // assigning one while the port is open (opening calls it).
    void UpdateHandlerFlag();

    TPortEvent OnPortOpen, OnPortClose;
    TTriggerEvent OnTrigger;
    TCountEvent OnTriggerAvail;
    THandleEvent OnTriggerData, OnTriggerStatus, OnTriggerTimer;
    TPortEvent OnTriggerLineError, OnTriggerModemStatus, OnTriggerOutbuffFree, OnTriggerOutbuffUsed,
        OnTriggerOutSent;

  protected:
    // --- Properties; TComPort publishes them. Setters of line settings apply them
    // at once while the port is open. ---
    TDeviceLayer DeviceLayer() const { return device_layer_; }
    void SetDeviceLayer(TDeviceLayer layer);
    std::uint16_t ComNumber() const { return com_number_; }
    std::int32_t Baud() const { return baud_; }
    void SetBaud(std::int32_t baud);
    bool PromptForPort() const { return prompt_for_port_; }
    void SetPromptForPort(bool prompt) { prompt_for_port_ = prompt; }
    TParity Parity() const { return parity_; }
    void SetParity(TParity parity);
    std::uint16_t DataBits() const { return data_bits_; }
    void SetDataBits(std::uint16_t bits);
    std::uint16_t StopBits() const { return stop_bits_; }
    void SetStopBits(std::uint16_t bits);
    std::uint16_t InSize() const { return in_size_; }
    void SetInSize(std::uint16_t size) { in_size_ = size; }
    std::uint16_t OutSize() const { return out_size_; }
    void SetOutSize(std::uint16_t size) { out_size_ = size; }
    bool AutoOpen() const { return auto_open_; }
    void SetAutoOpen(bool auto_open) { auto_open_ = auto_open; }
    bool DTR() const { return dtr_; }
    void SetDTR(bool on);
    bool RTS() const { return rts_; }
    void SetRTS(bool on);
    THWFlowOptions HWFlowOptions() const { return hw_flow_; }
    void SetHWFlowOptions(THWFlowOptions options);
    TSWFlowOptions SWFlowOptions() const { return sw_flow_; }
    void SetSWFlowOptions(TSWFlowOptions options);
    char XOnChar() const { return xon_char_; }
    void SetXOnChar(char c);
    char XOffChar() const { return xoff_char_; }
    void SetXOffChar(char c);
    std::uint16_t BufferFull() const { return buffer_full_; }
    void SetBufferFull(std::uint16_t level);
    std::uint16_t BufferResume() const { return buffer_resume_; }
    void SetBufferResume(std::uint16_t level);
    TTraceLogState Tracing() const { return tracing_; }
    void SetTracing(TTraceLogState state) { tracing_ = state; }
    std::uint32_t TraceSize() const { return trace_size_; }
    void SetTraceSize(std::uint32_t size) { trace_size_ = size; }
    const std::string& TraceName() const { return trace_name_; }
    void SetTraceName(const std::string& name) { trace_name_ = name; }
    bool TraceHex() const { return trace_hex_; }
    void SetTraceHex(bool hex) { trace_hex_ = hex; }
    bool TraceAllHex() const { return trace_all_hex_; }
    void SetTraceAllHex(bool hex) { trace_all_hex_ = hex; }
    TTraceLogState Logging() const { return logging_; }
    void SetLogging(TTraceLogState state) { logging_ = state; }
    std::uint32_t LogSize() const { return log_size_; }
    void SetLogSize(std::uint32_t size) { log_size_ = size; }
    const std::string& LogName() const { return log_name_; }
    void SetLogName(const std::string& name) { log_name_ = name; }
    bool LogHex() const { return log_hex_; }
    void SetLogHex(bool hex) { log_hex_ = hex; }
    bool LogAllHex() const { return log_all_hex_; }
    void SetLogAllHex(bool hex) { log_all_hex_ = hex; }
    bool UseMSRShadow() const { return true; }
    virtual void SetUseMSRShadow(bool) {}  // always on
    bool UseEventWord() const { return use_event_word_; }
    void SetUseEventWord(bool use) { use_event_word_ = use; }
    std::uint16_t CommNotificationLevel() const { return comm_notification_level_; }
    void SetCommNotificationLevel(std::uint16_t level) { comm_notification_level_ = level; }
    TTapiMode TapiMode() const { return tapi_mode_; }
    void SetTapiMode(TTapiMode mode) { tapi_mode_ = mode; }
    bool RS485Mode() const { return rs485_mode_; }
    void SetRS485Mode(bool on);

    // Hooks for subclasses.
    virtual void PortOpen();
    virtual void PortClose();
    virtual void PortClosing() {}
    // Called with every character that WaitForString takes.
    virtual void WaitChar(char) {}

  private:
    void InitPort();
    void ValidateComport();
    std::unique_ptr<TBaseDispatcher> ActivateDeviceLayer();
    std::uint32_t FlowWord() const;
    void ApplySettings(TBaseDispatcher& dispatcher);
    void ApplyFlow(TBaseDispatcher& dispatcher);
    void ApplyLine();
    void AdjustThresholds();
    void HandleTrigger(TTriggerMessage message, std::uint16_t handle, int data);
    // The dispatcher for an I/O operation: null while the port shuts down; opens
    // the port when AutoOpen allows; raises ECommNotOpen when there is none.
    std::shared_ptr<TBaseDispatcher> DispatcherForIO();
    // Runs op on the dispatcher under the lifecycle lock, without taking a
    // reference: for the per-character operations, which never block. Opens the
    // port or raises as DispatcherForIO; `shutting_down` while the port shuts down.
    template <typename Result, typename Op>
    Result WithDispatcher(Result shutting_down, Op op);
    // The dispatcher of an open port, or null; for setters.
    std::shared_ptr<TBaseDispatcher> OpenDispatcher() const;
    bool ShouldApply(bool changed) const { return changed || force_; }

    // Guards the port state, the open-pending flag and the dispatcher pointer.
    mutable Mutex lifecycle_lock_;
    TPortState state_ GUARDED_BY(lifecycle_lock_) = TPortState::psClosed;
    bool open_ GUARDED_BY(lifecycle_lock_) = false;
    bool open_pending_ GUARDED_BY(lifecycle_lock_) = false;
    std::shared_ptr<TBaseDispatcher> dispatcher_ GUARDED_BY(lifecycle_lock_);

    // Settings: the opening thread's, set before the port is shared.
    TDeviceLayer device_layer_ = TDeviceLayer::dlWin32;
    std::uint16_t com_number_ = 0;
    std::int32_t baud_ = 19200;
    bool prompt_for_port_ = true;
    TParity parity_ = pNone;
    std::uint16_t data_bits_ = 8;
    std::uint16_t stop_bits_ = 1;
    std::uint16_t in_size_ = 4096;
    std::uint16_t out_size_ = 4096;
    bool auto_open_ = true;
    bool dtr_ = true;
    bool rts_ = true;
    THWFlowOptions hw_flow_ = 0;
    TSWFlowOptions sw_flow_ = TSWFlowOptions::swfNone;
    char xon_char_ = 17;
    char xoff_char_ = 19;
    std::uint16_t buffer_full_ = 0;
    std::uint16_t buffer_resume_ = 0;
    TTraceLogState tracing_ = TTraceLogState::tlOff;
    std::uint32_t trace_size_ = 10000;
    std::string trace_name_ = "SERIAL.TRC";
    bool trace_hex_ = true;
    bool trace_all_hex_ = false;
    TTraceLogState logging_ = TTraceLogState::tlOff;
    std::uint32_t log_size_ = 10000;
    std::string log_name_ = "SERIAL.LOG";
    bool log_hex_ = true;
    bool log_all_hex_ = false;
    bool use_event_word_ = true;
    std::uint16_t comm_notification_level_ = 10;
    TTapiMode tapi_mode_ = TTapiMode::tmAuto;
    bool rs485_mode_ = false;
    std::uint16_t trigger_length_ = 1;

    bool force_ = false;  // setters apply even an unchanged value (during open)
    TTriggerSave saved_triggers_;
    bool has_saved_triggers_ = false;
    const StopSignal* stop_flag_ = nullptr;
    TDeviceLayerCallback layer_callback_;
    TPortSelector port_selector_;
    std::function<void()> event_pump_;
};

// The port as the program uses it: every property published.
class TComPort : public TCustomComPort {
  public:
    using TCustomComPort::AutoOpen;
    using TCustomComPort::Baud;
    using TCustomComPort::BufferFull;
    using TCustomComPort::BufferResume;
    using TCustomComPort::CommNotificationLevel;
    using TCustomComPort::ComNumber;
    using TCustomComPort::DataBits;
    using TCustomComPort::DeviceLayer;
    using TCustomComPort::DTR;
    using TCustomComPort::HWFlowOptions;
    using TCustomComPort::InSize;
    using TCustomComPort::LogAllHex;
    using TCustomComPort::Logging;
    using TCustomComPort::LogHex;
    using TCustomComPort::LogName;
    using TCustomComPort::LogSize;
    using TCustomComPort::OutSize;
    using TCustomComPort::Parity;
    using TCustomComPort::PromptForPort;
    using TCustomComPort::RS485Mode;
    using TCustomComPort::RTS;
    using TCustomComPort::SetAutoOpen;
    using TCustomComPort::SetBaud;
    using TCustomComPort::SetBufferFull;
    using TCustomComPort::SetBufferResume;
    using TCustomComPort::SetCommNotificationLevel;
    using TCustomComPort::SetDataBits;
    using TCustomComPort::SetDeviceLayer;
    using TCustomComPort::SetDTR;
    using TCustomComPort::SetHWFlowOptions;
    using TCustomComPort::SetInSize;
    using TCustomComPort::SetLogAllHex;
    using TCustomComPort::SetLogging;
    using TCustomComPort::SetLogHex;
    using TCustomComPort::SetLogName;
    using TCustomComPort::SetLogSize;
    using TCustomComPort::SetOutSize;
    using TCustomComPort::SetParity;
    using TCustomComPort::SetPromptForPort;
    using TCustomComPort::SetRS485Mode;
    using TCustomComPort::SetRTS;
    using TCustomComPort::SetStopBits;
    using TCustomComPort::SetSWFlowOptions;
    using TCustomComPort::SetTapiMode;
    using TCustomComPort::SetTraceAllHex;
    using TCustomComPort::SetTraceHex;
    using TCustomComPort::SetTraceName;
    using TCustomComPort::SetTraceSize;
    using TCustomComPort::SetTracing;
    using TCustomComPort::SetUseEventWord;
    using TCustomComPort::SetUseMSRShadow;
    using TCustomComPort::SetXOffChar;
    using TCustomComPort::SetXOnChar;
    using TCustomComPort::StopBits;
    using TCustomComPort::SWFlowOptions;
    using TCustomComPort::TapiMode;
    using TCustomComPort::TraceAllHex;
    using TCustomComPort::TraceHex;
    using TCustomComPort::TraceName;
    using TCustomComPort::TraceSize;
    using TCustomComPort::Tracing;
    using TCustomComPort::UseEventWord;
    using TCustomComPort::UseMSRShadow;
    using TCustomComPort::XOffChar;
    using TCustomComPort::XOnChar;
};

}  // namespace velka
