// Loaded into Wine's processes by the Windows tests (LD_PRELOAD): answers the
// modem-line ioctls for pseudo-terminals, which have no modem lines, as a serial
// port with CTS, DSR and carrier up would, so that Wine accepts the full
// communication-event mask and the DTR and RTS functions on a mapped COM port.
#include <dlfcn.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <cstdarg>
#include <cstring>

namespace {

constexpr int kOutputLines = TIOCM_DTR | TIOCM_RTS;
constexpr int kInputLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
std::atomic<int> output_lines{kOutputLines};

// Unix98 pseudo-terminal slaves have the major numbers 136 to 143.
bool IsPseudoTerminal(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    const unsigned int major_number = major(info.st_rdev);
    return major_number >= 136 && major_number <= 143;
}

using IoctlFunction = int (*)(int, unsigned long, ...);

IoctlFunction RealIoctl() {
    static const auto real = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
    return real;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    const bool modem_lines = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
                             request == TIOCMBIC || request == TIOCGICOUNT;
    if (!modem_lines || !IsPseudoTerminal(fd)) return RealIoctl()(fd, request, argument);
    auto* bits = static_cast<int*>(argument);
    switch (request) {
        case TIOCMGET:
            *bits = output_lines.load() | kInputLines;
            break;
        case TIOCMSET:
            output_lines = *bits & kOutputLines;
            break;
        case TIOCMBIS:
            output_lines |= *bits & kOutputLines;
            break;
        case TIOCMBIC:
            output_lines &= ~(*bits & kOutputLines);
            break;
        default:  // TIOCGICOUNT: no line has changed, no error has happened
            std::memset(argument, 0, sizeof(serial_icounter_struct));
            break;
    }
    return 0;
}
