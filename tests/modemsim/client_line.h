// The client's end of a simulated modem's line for tests: the slave side of the
// pseudo-terminal, opened and set raw with plain termios, read with poll().
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace velka::modemsim::testing {

class ClientLine {
  public:
    // Opens `path` (the modem's link) raw at 115200 baud; fails the test if it cannot.
    explicit ClientLine(const std::string& path);
    ~ClientLine();
    ClientLine(const ClientLine&) = delete;
    ClientLine& operator=(const ClientLine&) = delete;

    void Write(std::string_view bytes);
    // Everything read up to and including the first `expected`; what came after it
    // stays for the next read. Fails the test and gives what came if `limit` passes.
    std::string ReadUntil(std::string_view expected,
                          std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Exactly `count` bytes.
    std::string ReadCount(std::size_t count,
                          std::chrono::milliseconds limit = std::chrono::seconds(10));
    // True when the modem's side goes away (a read fails or ends) within `limit`.
    bool WaitForHangUp(std::chrono::milliseconds limit = std::chrono::seconds(10));

  private:
    bool ReadMore(std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    std::string pending_;  // read but not yet given out
    bool hung_up_ = false;
};

}  // namespace velka::modemsim::testing
