#include <windows.h>
// (after windows.h, which it needs)
#include <shellapi.h>

#include <memory>

#include "tools/velka-sms-cli/console.h"

namespace velka::cli {
namespace {

// Set by the console's control handler (its own thread); waited for by the main thread.
HANDLE interrupted = nullptr;

BOOL WINAPI OnControl(DWORD) {
    SetEvent(interrupted);
    return TRUE;
}

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int, char**) {
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&LocalFree)> wide(
        CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i) arguments.push_back(Utf8(wide.get()[i]));
    return arguments;
}

void CatchInterrupts() {
    interrupted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(&OnControl, TRUE);
}

void WaitForInterrupt() {
    WaitForSingleObject(interrupted, INFINITE);
}

}  // namespace velka::cli
