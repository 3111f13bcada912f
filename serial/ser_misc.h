// Small types shared by the serial component's units: the device control block
// that the dispatcher keeps for the device layer, line-setting codes, flow bits,
// communication-event bits and the trigger notification kinds. Plain data.
#pragma once

#include <cstdint>

namespace velka {

inline constexpr int kDispatchBufferSize = 8192;
inline constexpr int kDataBufferSize = 256;  // one block read from the device

// Parity codes as the control block keeps them; 5 in SetLine means "keep".
enum TParity : std::uint8_t { pNone = 0, pOdd = 1, pEven = 2, pMark = 3, pSpace = 4 };

// Stop-bit codes of the control block.
inline constexpr std::uint8_t kOneStopBit = 0;
inline constexpr std::uint8_t kOne5StopBits = 1;
inline constexpr std::uint8_t kTwoStopBits = 2;

// Control-line modes of the control block (DTR and RTS).
inline constexpr std::uint32_t kLineDisable = 0;
inline constexpr std::uint32_t kLineEnable = 1;
inline constexpr std::uint32_t kLineHandshake = 2;
inline constexpr std::uint32_t kLineToggle = 3;  // RTS only: RS-485 transmit control

// The device control block: the line and flow settings of one device, in the layout
// of the Win32 DCB's fields so that every device layer reads the same block.
struct TDeviceControlBlock {
    // Flag-word bits.
    static constexpr std::uint32_t fBinary = 0x1;
    static constexpr std::uint32_t fParity = 0x2;
    static constexpr std::uint32_t fOutxCtsFlow = 0x4;
    static constexpr std::uint32_t fOutxDsrFlow = 0x8;
    static constexpr int kDtrControlShift = 4;  // two bits
    static constexpr std::uint32_t fDsrSensitivity = 0x40;
    static constexpr std::uint32_t fTXContinueOnXoff = 0x80;
    static constexpr std::uint32_t fOutX = 0x100;
    static constexpr std::uint32_t fInX = 0x200;
    static constexpr std::uint32_t fNull = 0x800;
    static constexpr int kRtsControlShift = 12;  // two bits

    std::uint32_t BaudRate = 115200;
    std::uint32_t Flags = fBinary;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = pNone;
    std::uint8_t StopBits = kOneStopBit;
    char XonChar = 17;
    char XoffChar = 19;

    std::uint32_t DtrControl() const { return (Flags >> kDtrControlShift) & 3; }
    std::uint32_t RtsControl() const { return (Flags >> kRtsControlShift) & 3; }
    void SetDtrControl(std::uint32_t mode) {
        Flags = (Flags & ~(3u << kDtrControlShift)) | (mode << kDtrControlShift);
    }
    void SetRtsControl(std::uint32_t mode) {
        Flags = (Flags & ~(3u << kRtsControlShift)) | (mode << kRtsControlShift);
    }
    bool operator==(const TDeviceControlBlock&) const = default;
};

// Functions of EscapeComFunction.
inline constexpr int kSetRts = 3;
inline constexpr int kClrRts = 4;
inline constexpr int kSetDtr = 5;
inline constexpr int kClrDtr = 6;

// Flow word given to InitPort: the requested DTR and RTS levels and which of the
// two lines the driver handles for hardware flow control.
inline constexpr std::uint32_t kFlowDtrOn = 0x01;
inline constexpr std::uint32_t kFlowRtsOn = 0x02;
inline constexpr std::uint32_t kFlowDtrAuto = 0x10;
inline constexpr std::uint32_t kFlowRtsAuto = 0x20;

// Hardware flow option bits of HWFlowOptions.
inline constexpr int kHWUseDtr = 1;
inline constexpr int kHWUseRts = 2;
inline constexpr int kHWRequireDsr = 4;
inline constexpr int kHWRequireCts = 8;
// Software flow option bits of SWFlowEnable.
inline constexpr int kSWTransmit = 1;  // the port obeys XON/XOFF from the peer
inline constexpr int kSWReceive = 2;   // the port sends XON/XOFF to the peer

// Communication-event bits carried by a TStatusBuffer.
inline constexpr std::uint32_t evRxChar = 0x1;
inline constexpr std::uint32_t evCts = 0x8;
inline constexpr std::uint32_t evDsr = 0x10;
inline constexpr std::uint32_t evRlsd = 0x20;
inline constexpr std::uint32_t evBreak = 0x40;
inline constexpr std::uint32_t evErr = 0x80;
inline constexpr std::uint32_t evRing = 0x100;
inline constexpr std::uint32_t evRingTe = 0x2000;

// Modem-status byte (the high nibble holds the line levels).
inline constexpr std::uint8_t msCtsDelta = 0x01;
inline constexpr std::uint8_t msDsrDelta = 0x02;
inline constexpr std::uint8_t msRingDelta = 0x04;
inline constexpr std::uint8_t msDcdDelta = 0x08;
inline constexpr std::uint8_t msCts = 0x10;
inline constexpr std::uint8_t msDsr = 0x20;
inline constexpr std::uint8_t msRing = 0x40;
inline constexpr std::uint8_t msDcd = 0x80;

// Notification kinds sent to trigger handlers.
enum class TTriggerMessage : std::uint16_t {
    TriggerAvail = 0x7E01,   // bytes available; data: their count
    TriggerData = 0x7E02,    // a data trigger matched; data: 0
    TriggerTimer = 0x7E03,   // a timer trigger expired
    TriggerStatus = 0x7E04,  // a status trigger fired
};

enum class TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause, tlAppendAndContinue };

}  // namespace velka
