// The bare listener on Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

#include "tests/support/raw_socket.h"

namespace velka::testing {
namespace {

SOCKET AsSocket(std::intptr_t handle) {
    return static_cast<SOCKET>(handle);
}

// Winsock counts its users: each listener is one from its start to its end.
void StartWinsock() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("no Winsock");
}

}  // namespace

RawConnection::~RawConnection() {
    ::closesocket(AsSocket(handle_));
}

long RawConnection::Receive(char* into, std::size_t size) {
    return ::recv(AsSocket(handle_), into, static_cast<int>(size), 0);
}

void RawConnection::Send(std::string_view bytes) {
    ::send(AsSocket(handle_), bytes.data(), static_cast<int>(bytes.size()), 0);
}

RawListener::RawListener() {
    StartWinsock();
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    handle_ = static_cast<std::intptr_t>(socket);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (socket == INVALID_SOCKET ||
        ::bind(socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(socket, 8) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (socket != INVALID_SOCKET) ::closesocket(socket);
        ::WSACleanup();
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
}

RawListener::~RawListener() {
    Stop();
    ::WSACleanup();
}

std::unique_ptr<RawConnection> RawListener::Accept() {
    const SOCKET connection = ::accept(AsSocket(handle_), nullptr, nullptr);
    if (connection == INVALID_SOCKET) return nullptr;
    return std::make_unique<RawConnection>(static_cast<std::intptr_t>(connection));
}

void RawListener::Stop() {
    // Winsock wakes an accept only when its socket is closed; shutdown does not.
    const SOCKET socket = AsSocket(handle_.exchange(static_cast<std::intptr_t>(INVALID_SOCKET)));
    if (socket != INVALID_SOCKET) ::closesocket(socket);
}

}  // namespace velka::testing
