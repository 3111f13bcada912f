#include "serial/ser_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/device_manager.h"
#include "platform/registry.h"
#include "serial/ser_except.h"

namespace velka {

namespace {

constexpr int kNoTimeLimit = -1;
constexpr int kWriteWaitMs = 100;
constexpr auto kLineWatchPeriod = std::chrono::milliseconds(100);
// WriteBlock's answer for a device that is gone: no error code, but the end.
constexpr int kDeviceVanished = 1;

// The system error numbers the component gives a meaning to are the Windows ones
// (2: no such device, 5: in use, 8: no memory, 4: too many open files); the POSIX
// numbers that mean the same are reported as those.
int PortableError(int error_number) {
    switch (error_number) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
        case EIO:  // a device that fails as it opens is as good as absent (and 5 means in use)
            return 2;
        case EACCES:
        case EPERM:
        case EBUSY:
        case EWOULDBLOCK:
            return 5;
        case ENOMEM:
            return 8;
        case EMFILE:
        case ENFILE:
            return 4;
        default:
            return error_number;
    }
}

// Errors that mean the device is gone (unplugged), not that it failed.
bool Vanished(int error_number) {
    return error_number == EIO || error_number == ENXIO || error_number == ENODEV ||
           error_number == EBADF;
}

struct SpeedRow {
    std::uint32_t baud;
    speed_t speed;
};
constexpr std::array kSpeeds{
    SpeedRow{110, B110},       SpeedRow{300, B300},       SpeedRow{600, B600},
    SpeedRow{1200, B1200},     SpeedRow{2400, B2400},     SpeedRow{4800, B4800},
    SpeedRow{9600, B9600},     SpeedRow{19200, B19200},   SpeedRow{38400, B38400},
    SpeedRow{57600, B57600},   SpeedRow{115200, B115200}, SpeedRow{230400, B230400},
    SpeedRow{460800, B460800}, SpeedRow{921600, B921600},
};

[[nodiscard]] bool SpeedOf(std::uint32_t baud, speed_t& speed) {
    for (const auto& row : kSpeeds) {
        if (row.baud == baud) {
            speed = row.speed;
            return true;
        }
    }
    return false;
}

tcflag_t CharacterSize(std::uint8_t data_bits) {
    switch (data_bits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

tcflag_t ParityFlags(std::uint8_t parity) {
    switch (parity) {
        case pOdd:
            return PARENB | PARODD;
        case pEven:
            return PARENB;
        case pMark:
            return PARENB | PARODD | CMSPAR;
        case pSpace:
            return PARENB | CMSPAR;
        default:
            return 0;
    }
}

// The termios form of a control block: raw bytes, no echo, reads that return
// what is there. Linux has one hardware handshake (RTS/CTS) for both directions;
// DTR handshake has no termios form and leaves DTR raised.
int ToTermios(const TDeviceControlBlock& block, termios& tio) {
    speed_t speed;
    if (!SpeedOf(block.BaudRate, speed)) return ecBaudRate;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CREAD | CLOCAL | CharacterSize(block.ByteSize) | ParityFlags(block.Parity);
    if (block.StopBits != kOneStopBit) tio.c_cflag |= CSTOPB;
    if (block.RtsControl() == kLineHandshake || (block.Flags & TDeviceControlBlock::fOutxCtsFlow)) {
        tio.c_cflag |= CRTSCTS;
    }
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (block.Flags & TDeviceControlBlock::fOutX) tio.c_iflag |= IXON;
    if (block.Flags & TDeviceControlBlock::fInX) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(block.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(block.XoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    return ecOK;
}

std::uint32_t LineChanges(int before, int now) {
    const int changed = before ^ now;
    std::uint32_t mask = 0;
    if (changed & TIOCM_CTS) mask |= evCts;
    if (changed & TIOCM_DSR) mask |= evDsr;
    if (changed & TIOCM_CD) mask |= evRlsd;
    if ((changed & TIOCM_RI) && !(now & TIOCM_RI)) mask |= evRingTe;
    if ((changed & TIOCM_RI) && (now & TIOCM_RI)) mask |= evRing;
    return mask;
}

// "\\.\COMn" names the port that the device manager lists as COMn (looked up
// after a fresh scan, so a replugged modem is found); any other name is a path.
std::optional<std::string> DevicePath(const std::string& name) {
    constexpr std::string_view kComPrefix = "\\\\.\\";
    if (!name.starts_with(kComPrefix)) return name;
    Registry& registry = Registry::Machine();
    // A scan the registry refuses leaves the last listing, which still names
    // every port that has not been replugged since.
    IgnoreFailure(RefreshSerialPortList(registry));
    return DevicePathOfComName(registry, name.substr(kComPrefix.size()));
}

void JoinIfRunning(std::thread& thread) {
    if (thread.joinable()) thread.join();
}

}  // namespace

bool TWakePipe::Open() {
    Close();
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    read_end_ = ends[0];
    write_end_ = ends[1];
    return true;
}

void TWakePipe::Signal() {
    if (write_end_ < 0) return;
    const char byte = 0;
    // A full pipe is readable already; nothing else can fail here that matters.
    [[maybe_unused]] const ssize_t put = ::write(write_end_, &byte, 1);
}

void TWakePipe::Close() {
    for (int* end : {&read_end_, &write_end_}) {
        if (*end >= 0) ::close(*end);
        *end = -1;
    }
}

std::unique_ptr<TBaseDispatcher> NewPlatformDispatcher() {
    return std::make_unique<TPosixDispatcher>();
}

TPosixDispatcher::~TPosixDispatcher() {
    CloseCom();
}

int TPosixDispatcher::ProcessCommunications() {
    std::this_thread::yield();
    return ecOK;
}

int TPosixDispatcher::Refuse(int error_number) {
    SetLastSystemError(PortableError(error_number));
    return -1;
}

int TPosixDispatcher::OpenCom(const std::string& name, int, int) {
    const std::optional<std::string> path = DevicePath(name);
    if (!path) return Refuse(ENOENT);
    const int fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Refuse(errno);
    // No sharing: a second opener, in this process or another, is refused as in use.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return Refuse(error);
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const int error = errno;
        ::close(fd);
        return Refuse(error);
    }
    std::lock_guard guard(close_lock_);
    fd_ = fd;
    applied_ = TDeviceControlBlock{};
    return fd;
}

int TPosixDispatcher::CloseCom() {
    int result = ecOK;
    // Kill takes the data and output locks, which callers may hold while they
    // take the close lock (a flush of input): so it comes first, outside.
    Kill();
    {
        std::lock_guard guard(close_lock_);
        { std::lock_guard status_guard(status_lock_); }
        status_wake_.notify_all();
        close_wake_.Signal();
        JoinIfRunning(status_thread_);
        JoinIfRunning(write_thread_);
        JoinIfRunning(read_thread_);
        close_wake_.Close();
        if (fd_ >= 0) {
            result = ::close(fd_) == 0 ? ecOK : -1;
            fd_ = -1;
        }
    }
    // Outside the close lock: a dispatch thread tearing down waits for that lock.
    JoinDispatchThread();
    return result;
}

template <typename Op>
int TPosixDispatcher::WithDevice(Op op) {
    std::lock_guard guard(close_lock_);
    return fd_ < 0 ? ecCommNotOpen : op();
}

bool TPosixDispatcher::SetupCom(int, int) {
    // The tty driver's queues have fixed sizes; the receive flow limits are set
    // through the control block instead.
    return fd_ >= 0;
}

int TPosixDispatcher::GetComState(TDeviceControlBlock& block) {
    block = applied_;
    return ecOK;
}

int TPosixDispatcher::SetComState(const TDeviceControlBlock& block) {
    return WithDevice([&] {
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0) return -PortableError(errno);
        if (const int result = ToTermios(block, tio); result < 0) return result;
        // At once: the dispatcher has waited for the output to drain, and a peer
        // that reads nothing must not hold the caller here.
        if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return -PortableError(errno);
        applied_ = block;
        return ecOK;
    });
}

int TPosixDispatcher::EscapeComFunction(int function) {
    int bits = 0;
    unsigned long request = TIOCMBIS;
    switch (function) {
        case kSetRts:
            bits = TIOCM_RTS;
            break;
        case kClrRts:
            bits = TIOCM_RTS;
            request = TIOCMBIC;
            break;
        case kSetDtr:
            bits = TIOCM_DTR;
            break;
        case kClrDtr:
            bits = TIOCM_DTR;
            request = TIOCMBIC;
            break;
        default:
            return ecOK;
    }
    // A pseudo-terminal has no modem lines; that is no failure of the port.
    WithDevice([&] { return ::ioctl(fd_, request, &bits); });
    return ecOK;
}

int TPosixDispatcher::FlushCom(int which) {
    return WithDevice([&] {
        if (which == 0) AbandonOutput(write_thread_.joinable());
        const int result = ::tcflush(fd_, which == 0 ? TCOFLUSH : TCIFLUSH);
        if (which == 1) io_queue_.Clear();
        return result == 0 ? ecOK : -PortableError(errno);
    });
}

int TPosixDispatcher::GetComError(TComStat& status) {
    status.OutQueue = static_cast<std::uint32_t>(OutBufUsed());
    WithDevice([&] {
        int waiting = 0;
        if (::ioctl(fd_, FIONREAD, &waiting) == 0)
            status.InQueue = static_cast<std::uint32_t>(waiting);
        return ecOK;
    });
    // termios reports framing and parity errors in the data stream, not as bits.
    return 0;
}

int TPosixDispatcher::StartDispatcher() {
    if (Active()) throw ESerialException(std::string("Dispatcher already started."));
    if (!close_wake_.Open()) return -PortableError(errno);
    kill_ = false;
    read_thread_ = std::thread([this] { ReadLoop(); });
    StartDispatchThread();
    write_thread_ = std::thread([this] { WriteLoop(); });
    status_thread_ = std::thread([this] { StatusLoop(); });
    return ecOK;
}

void TPosixDispatcher::ReadLoop() {
    auto block = std::make_unique<TDataBuffer>();
    int end_code = ecOK;
    while (!kill_) {
        std::array<pollfd, 2> watch{pollfd{fd_, POLLIN, 0},
                                    pollfd{close_wake_.ReadEnd(), POLLIN, 0}};
        const int ready = ::poll(watch.data(), watch.size(), kNoTimeLimit);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            SetLastSystemError(errno);
            end_code = ecDeviceRead;
            break;
        }
        // Only CloseCom writes to the pipe, after it has set the kill flag.
        if (watch[1].revents != 0) break;
        const short device = watch[0].revents;
        if (device & POLLIN) {
            const ssize_t got = ::read(fd_, block->Data.data(), block->Data.size());
            if (got > 0) {
                block->Filled = static_cast<int>(got);
                io_queue_.Push(std::exchange(block, std::make_unique<TDataBuffer>()));
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            // A read of 0 bytes from a tty that said it was readable is a hang-up.
            if (got < 0 && !Vanished(errno)) {
                SetLastSystemError(errno);
                end_code = ecDeviceRead;
            }
            break;
        }
        if (device & (POLLHUP | POLLERR | POLLNVAL)) break;
    }
    ThreadEnded(end_code);
    Kill();
}

void TPosixDispatcher::WriteLoop() {
    std::vector<std::uint8_t> block;
    int end_code = ecOK;
    while (TakeOutput(block)) {
        const int result = WriteBlock(block);
        OutputWritten();
        if (result != ecOK) {
            end_code = std::min(result, ecOK);
            Kill();
            break;
        }
    }
    ThreadEnded(end_code);
}

int TPosixDispatcher::WriteBlock(const std::vector<std::uint8_t>& block) {
    std::size_t written = 0;
    while (written < block.size()) {
        if (kill_ || FlushRequested()) return ecOK;
        const ssize_t put = ::write(fd_, block.data() + written, block.size() - written);
        if (put > 0) {
            written += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno == EAGAIN) {
            // The driver's queue is full: wait for room, a flush or a stop.
            pollfd watch{fd_, POLLOUT, 0};
            ::poll(&watch, 1, kWriteWaitMs);
            continue;
        }
        if (Vanished(errno)) return kDeviceVanished;
        SetLastSystemError(errno);
        return ecDeviceWrite;
    }
    return ecOK;
}

void TPosixDispatcher::StatusLoop() {
    int lines = 0;
    const bool has_lines = ::ioctl(fd_, TIOCMGET, &lines) == 0;
    std::unique_lock guard(status_lock_);
    const auto killed = [this] { return kill_.load(); };
    if (!has_lines) {
        status_wake_.wait(guard, killed);
        return;
    }
    while (!status_wake_.wait_for(guard, kLineWatchPeriod, killed)) {
        int now = 0;
        // The read thread notices a vanished device and reports it.
        if (::ioctl(fd_, TIOCMGET, &now) != 0) break;
        if (const std::uint32_t mask = LineChanges(lines, now); mask != 0) {
            io_queue_.Push(std::make_unique<TStatusBuffer>(mask));
        }
        lines = now;
    }
}

}  // namespace velka
