// The serial component's error family: every failure of the port, its dispatcher
// and its device layer is a negative status code, and the component raises the
// exception class that belongs to the code, with the code's message text.
// Pure; any thread.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velka {

// Status codes of the component. Negative values of magnitude below 1000 are
// system error numbers (errno on POSIX, GetLastError() on Windows) negated.
inline constexpr int ecOK = 0;
inline constexpr int ecFileNotFound = -2;
inline constexpr int ecPathNotFound = -3;
inline constexpr int ecAccessDenied = -5;
inline constexpr int ecOutOfMemory = -8;
inline constexpr int ecDeviceWrite = -160;
inline constexpr int ecDeviceRead = -161;
inline constexpr int ecGeneralFailure = -162;
inline constexpr int ecBadHandle = -1001;
inline constexpr int ecBadArgument = -1002;
inline constexpr int ecGotQuitMsg = -1003;
inline constexpr int ecBufferTooBig = -1004;
inline constexpr int ecPortNotAssigned = -1005;
inline constexpr int ecInternal = -1006;
inline constexpr int ecModemNotAssigned = -1007;
inline constexpr int ecPhonebookNotAssigned = -1008;
inline constexpr int ecCannotUseWithWinSock = -1009;
inline constexpr int ecBadId = -2001;
inline constexpr int ecBaudRate = -2002;
inline constexpr int ecByteSize = -2003;
inline constexpr int ecDefault = -2004;
inline constexpr int ecHardware = -2005;
inline constexpr int ecMemory = -2006;
inline constexpr int ecCommNotOpen = -2007;
inline constexpr int ecAlreadyOpen = -2008;
inline constexpr int ecNoHandles = -2009;
inline constexpr int ecNoTimers = -2010;
inline constexpr int ecNoPortSelected = -2011;
inline constexpr int ecNotOpenedByTapi = -2012;
inline constexpr int ecNullApi = -3001;
inline constexpr int ecNotSupported = -3002;
inline constexpr int ecRegisterHandlerFailed = -3003;
inline constexpr int ecPutBlockFail = -3004;
inline constexpr int ecGetBlockFail = -3005;
inline constexpr int ecOutputBufferTooSmall = -3006;
inline constexpr int ecBufferIsEmpty = -3007;
inline constexpr int ecTracingNotEnabled = -3008;
inline constexpr int ecLoggingNotEnabled = -3009;
inline constexpr int ecBaseAddressNotSet = -3010;
inline constexpr int ecNoMemory = -13868;

// The message of a code, found by its magnitude; for a code without a row, the
// system's own text for the magnitude as an error number, on one line, at most
// 255 characters; empty when the system has no text either.
std::string LoadErrorStr(int code);
inline std::string ErrorMsg(int code) {
    return LoadErrorStr(code);
}
// The message-table key of a code: its magnitude.
inline int MapCodeToStringID(int code) {
    return code < 0 ? -code : code;
}

// The system's text for an error number, unprocessed; empty when it has none.
// Implemented by the platform's file (ser_syserror_*.cpp).
std::string SystemErrorText(int error_number);

class ESerialException : public std::runtime_error {
  public:
    // ErrorCode is the (negative) code; the message is the code's message.
    explicit ESerialException(int code);
    // ErrorCode is 0; the message is the text.
    explicit ESerialException(const std::string& text);
    int ErrorCode() const { return error_code_; }

  private:
    int error_code_;
};

class EGeneral : public ESerialException {
  public:
    using ESerialException::ESerialException;
};
class EOpenComm : public ESerialException {
  public:
    using ESerialException::ESerialException;
};
class ESerialIO : public ESerialException {
  public:
    using ESerialException::ESerialException;
};

// One class per code of the family; each derives from its group.
template <typename Group, int Code>
class ESerialError : public Group {
  public:
    static constexpr int kCode = Code;
    ESerialError() : Group(Code) {}
};

using EBadArgument = ESerialError<EGeneral, ecBadArgument>;
using EGotQuitMsg = ESerialError<EGeneral, ecGotQuitMsg>;
using EBufferTooBig = ESerialError<EGeneral, ecBufferTooBig>;
using EPortNotAssigned = ESerialError<EGeneral, ecPortNotAssigned>;
using EInternal = ESerialError<EGeneral, ecInternal>;
using EModemNotAssigned = ESerialError<EGeneral, ecModemNotAssigned>;
using EPhonebookNotAssigned = ESerialError<EGeneral, ecPhonebookNotAssigned>;
using ECannotUseWithWinSock = ESerialError<EGeneral, ecCannotUseWithWinSock>;
using EBadId = ESerialError<EOpenComm, ecBadId>;
using EBaudRate = ESerialError<EOpenComm, ecBaudRate>;
using EByteSize = ESerialError<EOpenComm, ecByteSize>;
using EDefault = ESerialError<EOpenComm, ecDefault>;
using EHardware = ESerialError<EOpenComm, ecHardware>;
using EMemory = ESerialError<EOpenComm, ecMemory>;
using ECommNotOpen = ESerialError<EOpenComm, ecCommNotOpen>;
using EAlreadyOpen = ESerialError<EOpenComm, ecAlreadyOpen>;
using ENoHandles = ESerialError<EOpenComm, ecNoHandles>;
using ENoTimers = ESerialError<EOpenComm, ecNoTimers>;
using ENoPortSelected = ESerialError<EOpenComm, ecNoPortSelected>;
using ENotOpenedByTapi = ESerialError<EOpenComm, ecNotOpenedByTapi>;
using ENullApi = ESerialError<ESerialIO, ecNullApi>;
using ERegisterHandlerFailed = ESerialError<ESerialIO, ecRegisterHandlerFailed>;
using EPutBlockFail = ESerialError<ESerialIO, ecPutBlockFail>;
using EGetBlockFail = ESerialError<ESerialIO, ecGetBlockFail>;
using EOutputBufferTooSmall = ESerialError<ESerialIO, ecOutputBufferTooSmall>;
using EBufferIsEmpty = ESerialError<ESerialIO, ecBufferIsEmpty>;
using ETracingNotEnabled = ESerialError<ESerialIO, ecTracingNotEnabled>;
using ELoggingNotEnabled = ESerialError<ESerialIO, ecLoggingNotEnabled>;
using EBaseAddressNotSet = ESerialError<ESerialIO, ecBaseAddressNotSet>;
// Raised only inside a dispatcher thread that cannot get memory.
using ENoMemory = ESerialError<ESerialIO, ecNoMemory>;

// The run-time library's input/output error: a system error that the family has
// no class for. ErrorCode is the magnitude (a positive system error number).
class EInOutError : public std::runtime_error {
  public:
    EInOutError(const std::string& message, int error_code)
        : std::runtime_error(message), error_code_(error_code) {}
    int ErrorCode() const { return error_code_; }

  private:
    int error_code_;
};

// The translation every port operation applies to a dispatcher result: 0 and
// positive codes come back unchanged; a negative one is raised as its class, -8
// as std::bad_alloc, other system errors (-2 to -162) as EInOutError, anything
// else as ESerialException("Serial exception").
int CheckException(int code);

}  // namespace velka
