// A bare TCP listener on 127.0.0.1, for test peers that must answer what no HTTP
// server would: broken answers, or none at all. BSD sockets or Winsock behind it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace velka::testing {

// One accepted connection, closed with the object.
class RawConnection {
  public:
    explicit RawConnection(std::intptr_t handle) : handle_(handle) {}
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // The bytes read into `into`: 0 once the peer closed, negative on an error.
    long Receive(char* into, std::size_t size);
    // Writes all of `bytes`, as far as the peer takes them.
    void Send(std::string_view bytes);

  private:
    std::intptr_t handle_;
};

class RawListener {
  public:
    // Listens on a free port of 127.0.0.1; throws when the system refuses.
    RawListener();
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    int Port() const { return port_; }
    // The next connection; null once Stop was called.
    std::unique_ptr<RawConnection> Accept();
    // Wakes an Accept waiting on another thread; the listener takes no more.
    void Stop();

  private:
    // Atomic: Stop, on the test's thread, may close it under a waiting Accept.
    std::atomic<std::intptr_t> handle_;
    int port_ = 0;
};

}  // namespace velka::testing
