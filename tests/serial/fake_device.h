// A device layer without a device, for the dispatcher's unit tests: the test plays
// the device's read thread (Receive) and write thread (TakeSent), and can make the
// device fail. Everything else the dispatcher does runs for real, its dispatch
// thread included.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "serial/ser_dispatch.h"
#include "serial/ser_except.h"

namespace velka::testing {

class FakeDispatcher : public TBaseDispatcher {
  public:
    ~FakeDispatcher() override { StopDispatcher(); }

    // Received bytes, as the read thread would queue them: 256-byte blocks.
    void Receive(const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size(); at += kDataBufferSize) {
            auto block = std::make_unique<TDataBuffer>();
            const std::string piece = bytes.substr(at, kDataBufferSize);
            std::copy(piece.begin(), piece.end(), block->Data.begin());
            block->Filled = static_cast<int>(piece.size());
            io_queue_.Push(std::move(block));
        }
    }
    void ReceiveStatus(std::uint32_t mask) {
        io_queue_.Push(std::make_unique<TStatusBuffer>(mask));
    }
    // What a write thread would take from the output ring now ("" when empty).
    std::string TakeSent() {
        if (OutBuffUsed() == 0) return {};
        std::vector<std::uint8_t> block;
        EXPECT_TRUE(TakeOutput(block));
        OutputWritten();
        return std::string(block.begin(), block.end());
    }
    // The device fails as a read error would make it: every thread is told to end.
    void Fail() {
        ThreadEnded(ecDeviceRead);
        Kill();
    }
    std::size_t QueuedBlocks() { return io_queue_.Empty() ? 0 : 1; }
    std::int64_t QueuedBytes() { return io_queue_.BytesQueued(); }

    int ProcessCommunications() override {
        std::this_thread::yield();
        return ecOK;
    }

    // What the device saw.
    std::vector<TDeviceControlBlock> states_set;
    std::vector<int> escapes;
    std::string opened_name;
    bool device_open = false;

  protected:
    int OpenCom(const std::string& name, int, int) override {
        const auto ends = [&](const std::string& tail) {
            return name.size() >= tail.size() &&
                   name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
        };
        if (ends("missing") || ends("COM99")) return Refuse(2);
        if (ends("busy") || ends("COM98")) return Refuse(5);
        opened_name = name;
        device_open = true;
        return 0;
    }
    int CloseCom() override {
        Kill();
        JoinDispatchThread();
        device_open = false;
        return ecOK;
    }
    bool SetupCom(int, int) override { return true; }
    int GetComState(TDeviceControlBlock& block) override {
        block = states_set.empty() ? TDeviceControlBlock{} : states_set.back();
        return ecOK;
    }
    int SetComState(const TDeviceControlBlock& block) override {
        if (block.BaudRate == 12345) return ecBaudRate;
        states_set.push_back(block);
        return ecOK;
    }
    int EscapeComFunction(int function) override {
        escapes.push_back(function);
        return ecOK;
    }
    int FlushCom(int which) override {
        if (which == 0) AbandonOutput(false);
        if (which == 1) io_queue_.Clear();
        return ecOK;
    }
    int GetComError(TComStat& status) override {
        status.OutQueue = static_cast<std::uint32_t>(OutBufUsed());
        return 0;
    }
    int StartDispatcher() override {
        StartDispatchThread();
        return ecOK;
    }

  private:
    int Refuse(int system_error) {
        SetLastSystemError(system_error);
        return -1;
    }
};

}  // namespace velka::testing
