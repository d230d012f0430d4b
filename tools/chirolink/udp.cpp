#include "udp.h"

#include <cstring>
#include <memory>
#include <utility>

// What differs between Winsock and BSD sockets, and nothing else.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

namespace chirolink::cli {
namespace {

using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;

// Winsock serves a process only after WSAStartup; once is enough, and the system cleans up at
// exit.
bool startSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

int lastError() {
    return WSAGetLastError();
}

std::string errorText(int code) {
    char text[256] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

// getaddrinfo gives Winsock error codes.
std::string resolveErrorText(int code) {
    return errorText(code);
}

// The address refuses datagrams or cannot be reached: another address of the name may do.
bool refused(int code) {
    return code == WSAECONNREFUSED || code == WSAECONNRESET || code == WSAENETUNREACH ||
           code == WSAEHOSTUNREACH;
}

bool sendOn(Socket socket, const void* data, std::size_t size) {
    return ::send(socket, static_cast<const char*>(data), static_cast<int>(size), 0) ==
           static_cast<int>(size);
}

void closeSocket(Socket socket) {
    ::closesocket(socket);
}

}  // namespace
}  // namespace chirolink::cli

#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace chirolink::cli {
namespace {

using Socket = int;
const Socket kNoSocket = -1;

bool startSockets() {
    return true;
}

int lastError() {
    return errno;
}

std::string errorText(int code) {
    return std::generic_category().message(code);  // unlike strerror, safe on any thread
}

std::string resolveErrorText(int code) {
    return ::gai_strerror(code);
}

bool refused(int code) {
    return code == ECONNREFUSED || code == ENETUNREACH || code == EHOSTUNREACH;
}

bool sendOn(Socket socket, const void* data, std::size_t size) {
    return ::send(socket, data, size, 0) == static_cast<ssize_t>(size);
}

void closeSocket(Socket socket) {
    ::close(socket);
}

}  // namespace
}  // namespace chirolink::cli
#endif

namespace chirolink::cli {

ResolvedTarget resolveUdp(const std::string& host, const std::string& port) {
    if (!startSockets()) {
        return {{}, "cannot start the sockets: " + errorText(lastError())};
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0) {
        return {{}, "cannot resolve '" + host + "': " + resolveErrorText(error)};
    }
    // A lambda: on 32-bit Windows freeaddrinfo is __stdcall.
    const auto release = [](addrinfo* list) { ::freeaddrinfo(list); };
    const std::unique_ptr<addrinfo, decltype(release)> owner(found, release);
    ResolvedTarget resolved;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if ((a->ai_family == AF_INET || a->ai_family == AF_INET6) &&
            a->ai_addrlen <= sizeof(sockaddr_storage)) {
            resolved.target.addresses.emplace_back(reinterpret_cast<const char*>(a->ai_addr),
                                                   a->ai_addrlen);
        }
    }
    if (resolved.target.addresses.empty()) {
        resolved.error = "cannot resolve '" + host + "': no IPv4 or IPv6 address";
    }
    return resolved;
}

namespace {

sockaddr_storage storageOf(const std::string& address) {
    sockaddr_storage storage{};
    std::memcpy(&storage, address.data(), address.size());
    return storage;
}

}  // namespace

std::string describeAddress(const std::string& address) {
    const sockaddr_storage storage = storageOf(address);
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&storage),
                      static_cast<socklen_t>(address.size()), host, sizeof host, service,
                      sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    return storage.ss_family == AF_INET6 ? "[" + std::string(host) + "]:" + service
                                         : std::string(host) + ":" + service;
}

UdpSender::UdpSender(UdpTarget target) : target_(std::move(target)) {}

UdpSender::~UdpSender() {
    if (socket_ != static_cast<std::intptr_t>(kNoSocket)) {
        closeSocket(static_cast<Socket>(socket_));
    }
}

bool UdpSender::send(const void* data, std::size_t size) {
    if (target_.addresses.empty()) {
        error_ = "no address to send to";
        return false;
    }
    if (socket_ == static_cast<std::intptr_t>(kNoSocket) && !connectCurrent()) {
        return false;
    }
    if (sendOn(static_cast<Socket>(socket_), data, size)) {
        return true;
    }
    const int code = lastError();
    fail(code, refused(code));
    return false;
}

bool UdpSender::connectCurrent() {
    const std::string& address = target_.addresses[current_];
    const sockaddr_storage storage = storageOf(address);
    const Socket socket = ::socket(storage.ss_family, SOCK_DGRAM, IPPROTO_UDP);
    if (socket == kNoSocket) {
        fail(lastError(), true);
        return false;
    }
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&storage),
                  static_cast<socklen_t>(address.size())) != 0) {
        const int code = lastError();
        closeSocket(socket);
        fail(code, true);
        return false;
    }
    socket_ = static_cast<std::intptr_t>(socket);
    return true;
}

void UdpSender::fail(int code, bool moveOn) {
    error_ = describeAddress(target_.addresses[current_]) + ": " + errorText(code);
    if (moveOn && target_.addresses.size() > 1) {
        if (socket_ != static_cast<std::intptr_t>(kNoSocket)) {
            closeSocket(static_cast<Socket>(socket_));
            socket_ = static_cast<std::intptr_t>(kNoSocket);
        }
        current_ = (current_ + 1) % target_.addresses.size();
    }
}

}  // namespace chirolink::cli
