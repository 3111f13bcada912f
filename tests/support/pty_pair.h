// A pseudo-terminal pair for tests: the port under test opens the
// slave side by its path, the test plays the modem on the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace velka::testing {

class PtyPair {
  public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        slave_path_ = ::ptsname(master_);
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slave_path_; }
    int MasterFd() const { return master_; }

    // Writes everything, waiting for room as long as the slave side drains.
    void Write(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t put = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (put > 0) done += static_cast<std::size_t>(put);
            if (put < 0 && errno != EAGAIN && errno != EINTR) throw std::runtime_error("write");
        }
    }
    // Reads until n bytes came, or nothing came for `quiet`.
    std::string Read(std::size_t n, std::chrono::milliseconds quiet = std::chrono::seconds(20)) {
        std::string out;
        char chunk[4096];
        while (out.size() < n) {
            pollfd watch{master_, POLLIN, 0};
            if (::poll(&watch, 1, static_cast<int>(quiet.count())) <= 0) break;
            const ssize_t got = ::read(master_, chunk, std::min(sizeof chunk, n - out.size()));
            if (got <= 0) break;
            out.append(chunk, static_cast<std::size_t>(got));
        }
        return out;
    }
    // Reads until `marker` has come (included), or nothing came for a long time.
    std::string ReadThrough(const std::string& marker) {
        std::string out;
        while (out.size() < marker.size() ||
               out.compare(out.size() - marker.size(), marker.size(), marker) != 0) {
            const std::string more = Read(1);
            if (more.empty()) break;
            out += more;
        }
        return out;
    }
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    std::string slave_path_;
};

}  // namespace velka::testing
