// TPosixDispatcher: the device layer on POSIX termios. A serial device (a USB
// modem's tty, a pseudo-terminal) is opened raw and non-blocking, locked against
// other programs, configured from the control block, and served by three threads
// next to the dispatch thread:
//   read thread   - sleeps in poll() until input arrives or CloseCom wakes it
//                   through a pipe, reads 256-byte TDataBuffer blocks and queues
//                   them; a hang-up or read error ends it;
//   write thread  - sleeps until the output ring holds data, copies it out under
//                   the output lock and writes it; a flush abandons the rest;
//   status thread - watches the modem lines every 100 ms where the driver has
//                   them; on a pseudo-terminal, which has none, it only waits.
// When the device fails or vanishes, the threads end and the dispatcher tears
// itself down; the port then needs a close and a new open.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/ser_dispatch.h"

namespace velka {

// A pipe whose read end the read thread's poll() watches beside the device, so
// that a close wakes it at once. Opened before the read thread starts; signalled
// and closed by CloseCom (close_lock_), the close after the thread has ended.
class TWakePipe {
  public:
    TWakePipe() = default;
    ~TWakePipe() { Close(); }
    TWakePipe(const TWakePipe&) = delete;
    TWakePipe& operator=(const TWakePipe&) = delete;

    // False with errno set when the system refuses a pipe.
    bool Open();
    // The read end becomes readable and stays so until Close.
    void Signal();
    void Close();
    int ReadEnd() const { return read_end_; }

  private:
    int read_end_ = -1;
    int write_end_ = -1;
};

class TPosixDispatcher : public TBaseDispatcher {
  public:
    TPosixDispatcher() = default;
    ~TPosixDispatcher() override;

    int ProcessCommunications() override;

  protected:
    // The name is a device path, or "\\.\COMn", which is looked up among the
    // ports the device manager lists.
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
    void ReadLoop();
    void WriteLoop();
    void StatusLoop();
    // 0 when written or abandoned for a flush or a stop; a negative code on failure.
    int WriteBlock(const std::vector<std::uint8_t>& block);
    int Refuse(int error_number);

    // The device operations of the caller's thread run under close_lock_, so that
    // a teardown on the dispatch thread cannot close the device (and the system
    // reuse its number) under them.
    template <typename Op>
    int WithDevice(Op op);

    int fd_ = -1;  // changed by OpenCom and CloseCom (close_lock_), while no device thread runs
    TDeviceControlBlock applied_;  // the block last written; caller's thread only
    std::thread read_thread_;
    std::thread write_thread_;
    std::thread status_thread_;
    std::mutex status_lock_;               // with status_wake_: the kill flag
    std::condition_variable status_wake_;  // signalled by CloseCom
    std::mutex close_lock_;                // one CloseCom at a time
    TWakePipe close_wake_;                 // wakes the read thread for a close
};

}  // namespace velka
