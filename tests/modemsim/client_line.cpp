#include "tests/modemsim/client_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace velka::modemsim::testing {

ClientLine::ClientLine(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    EXPECT_GE(fd_, 0) << "cannot open " << path;
    termios mode{};
    if (fd_ >= 0 && ::tcgetattr(fd_, &mode) == 0) {
        ::cfmakeraw(&mode);
        ::cfsetspeed(&mode, B115200);
        ::tcsetattr(fd_, TCSANOW, &mode);
    }
}

ClientLine::~ClientLine() {
    if (fd_ >= 0) ::close(fd_);
}

void ClientLine::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EAGAIN) {
            pollfd writable{fd_, POLLOUT, 0};
            ::poll(&writable, 1, 1000);
            continue;
        }
        ASSERT_GT(n, 0) << "write to the modem failed";
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

bool ClientLine::ReadMore(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || hung_up_) return false;
    pollfd readable{fd_, POLLIN, 0};
    if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EAGAIN) return true;
    if (n <= 0) {
        hung_up_ = true;
        return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::string ClientLine::ReadUntil(std::string_view expected, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t at;
    while ((at = pending_.find(expected)) == std::string::npos) {
        if (!ReadMore(deadline)) {
            ADD_FAILURE() << "no \"" << expected << "\" came; got \"" << pending_ << "\"";
            return std::exchange(pending_, "");
        }
    }
    std::string out = pending_.substr(0, at + expected.size());
    pending_.erase(0, at + expected.size());
    return out;
}

std::string ClientLine::ReadCount(std::size_t count, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pending_.size() < count) {
        if (!ReadMore(deadline)) {
            ADD_FAILURE() << count << " bytes did not come; got " << pending_.size();
            return std::exchange(pending_, "");
        }
    }
    std::string out = pending_.substr(0, count);
    pending_.erase(0, count);
    return out;
}

bool ClientLine::WaitForHangUp(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (ReadMore(deadline)) {
    }
    return hung_up_;
}

}  // namespace velka::modemsim::testing
