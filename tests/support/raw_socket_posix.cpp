// The bare listener on BSD sockets.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/raw_socket.h"

namespace velka::testing {

RawConnection::~RawConnection() {
    ::close(static_cast<int>(handle_));
}

long RawConnection::Receive(char* into, std::size_t size) {
    return static_cast<long>(::recv(static_cast<int>(handle_), into, size, 0));
}

void RawConnection::Send(std::string_view bytes) {
    // MSG_NOSIGNAL: a peer gone is an error here, not SIGPIPE ending the test.
    ::send(static_cast<int>(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

RawListener::RawListener() : handle_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int socket = static_cast<int>(handle_);
    if (socket < 0 || ::bind(socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(socket, 8) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (socket >= 0) ::close(socket);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
}

RawListener::~RawListener() {
    ::close(static_cast<int>(handle_));
}

std::unique_ptr<RawConnection> RawListener::Accept() {
    const int connection = ::accept(static_cast<int>(handle_), nullptr, nullptr);
    if (connection < 0) return nullptr;
    return std::make_unique<RawConnection>(connection);
}

void RawListener::Stop() {
    // Shutting a listening socket down wakes its accept with an error on Linux.
    ::shutdown(static_cast<int>(handle_), SHUT_RDWR);
}

}  // namespace velka::testing
