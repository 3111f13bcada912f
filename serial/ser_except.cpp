#include "serial/ser_except.h"

#include <algorithm>
#include <array>
#include <new>
#include <string_view>

namespace velka {

namespace {

struct MessageRow {
    int magnitude;
    std::string_view message;
};

// The rows of the component's message table that its serial paths use, sorted by
// magnitude; the rows of component kinds this program does not have are left out.
constexpr std::array kMessageTable{
    MessageRow{0, "OK"},
    MessageRow{2, "File not found"},
    MessageRow{3, "Path not found"},
    MessageRow{4, "Too many open files"},
    MessageRow{5, "File access denied"},
    MessageRow{6, "Invalid file handle"},
    MessageRow{8, "Insufficient memory"},
    MessageRow{160, "Device write error"},
    MessageRow{161, "Device read error"},
    MessageRow{162, "General failure"},
    MessageRow{1001, "Bad handle passed to com function"},
    MessageRow{1002, "Bad argument passed to function"},
    MessageRow{1003, "Got quit message"},
    MessageRow{1004, "Terminal buffer greater than 65521"},
    MessageRow{1005, "ComPort component not assigned"},
    MessageRow{1006, "Internal error creating window class"},
    MessageRow{1007, "Modem component not assigned"},
    MessageRow{1008, "Phonebook component not assigned"},
    MessageRow{1009, "Component not compatible with WinSock"},
    MessageRow{2001, "ie_BadId - Specified comport doesn't exist"},
    MessageRow{2002, "ie_Baudrate - unsupported baud rate"},
    MessageRow{2003, "ie_Bytesize - invalid byte size"},
    MessageRow{2004, "ie_Default - error in default parameters"},
    MessageRow{2005, "ie_Hardware - Specified comport in use"},
    MessageRow{2006, "ie_Memory - unable to allocate queues"},
    MessageRow{2007, "ie_NOpen - device not open"},
    MessageRow{2008, "ie_Open - device already open"},
    MessageRow{2009, "No more handles, can't open port"},
    MessageRow{2010, "No timers available"},
    MessageRow{2011, "The ComNumber property of the TComPort has not been set"},
    MessageRow{2012, "Comport was not opened by Tapi"},
    MessageRow{3001, "No device layer specified"},
    MessageRow{3002, "Function not supported by driver"},
    MessageRow{3003, "EnableCommNotification failed"},
    MessageRow{3004, "Failed to put entire block"},
    MessageRow{3005, "Failed to get entire block"},
    MessageRow{3006, "Output buffer too small for block"},
    MessageRow{3007, "Buffer is empty"},
    MessageRow{3008, "Tracing not enabled"},
    MessageRow{3009, "Logging not enabled"},
    MessageRow{3010, "Base address not set"},
    MessageRow{13868, "No memory"},
};
static_assert(std::is_sorted(kMessageTable.begin(), kMessageTable.end(),
                             [](const MessageRow& a, const MessageRow& b) {
                                 return a.magnitude < b.magnitude;
                             }));

constexpr std::size_t kMaxSystemText = 255;

// System texts can hold line breaks and doubled blanks; the message is one line.
std::string OneLine(std::string text) {
    if (text.size() > kMaxSystemText) text.resize(kMaxSystemText);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }, ' ');
    std::string::size_type at;
    while ((at = text.find("  ")) != std::string::npos) text.erase(at, 1);
    return text;
}

// Raises the family class whose code is `code`, if the family has one.
template <typename... Classes>
void RaiseFamilyClass(int code) {
    ((code == Classes::kCode ? throw Classes() : void()), ...);
}

}  // namespace

std::string LoadErrorStr(int code) {
    const int magnitude = MapCodeToStringID(code);
    const auto row =
        std::lower_bound(kMessageTable.begin(), kMessageTable.end(), magnitude,
                         [](const MessageRow& r, int wanted) { return r.magnitude < wanted; });
    if (row != kMessageTable.end() && row->magnitude == magnitude) {
        return std::string(row->message);
    }
    return OneLine(SystemErrorText(magnitude));
}

ESerialException::ESerialException(int code)
    : std::runtime_error(LoadErrorStr(code)), error_code_(code) {}

ESerialException::ESerialException(const std::string& text)
    : std::runtime_error(text), error_code_(0) {}

int CheckException(int code) {
    if (code >= 0) return code;
    RaiseFamilyClass<EBadArgument, EGotQuitMsg, EBufferTooBig, EPortNotAssigned, EInternal,
                     EModemNotAssigned, EPhonebookNotAssigned, ECannotUseWithWinSock, EBadId,
                     EBaudRate, EByteSize, EDefault, EHardware, EMemory, ECommNotOpen, EAlreadyOpen,
                     ENoHandles, ENoTimers, ENoPortSelected, ENotOpenedByTapi, ENullApi,
                     ERegisterHandlerFailed, EPutBlockFail, EGetBlockFail, EOutputBufferTooSmall,
                     EBufferIsEmpty, ETracingNotEnabled, ELoggingNotEnabled, EBaseAddressNotSet,
                     ENoMemory>(code);
    if (code == ecOutOfMemory) throw std::bad_alloc();
    if (code <= ecFileNotFound && code >= ecGeneralFailure) {
        throw EInOutError(LoadErrorStr(code), -code);
    }
    throw ESerialException(std::string("Serial exception"));
}

}  // namespace velka
