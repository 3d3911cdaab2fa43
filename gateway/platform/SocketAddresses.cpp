// What both systems' socket APIs spell alike: binding, listening, name lookup, the addresses of
// a socket and its peer. Everything that differs lives in SocketPlatformPosix.cpp and
// SocketPlatformWindows.cpp.

#include "gateway/platform/SocketApi.h"

#include "gateway/base/Errors.h"

#include <cstring>
#include <utility>

namespace gateway {

using socketapi::AddressLength;
using socketapi::native;

namespace {

bool bindTo(Socket& socket, const sockaddr* address, AddressLength length, SystemReason* refusal)
{
    if (::bind(native(socket), address, length) == 0) {
        return true;
    }
    if (refusal) {
        *refusal = socketapi::lastSocketError();
    }
    return false;
}

} // namespace

bool bindIPv4(Socket& socket, std::uint32_t address, std::uint16_t port, SystemReason* refusal)
{
    sockaddr_in local = socketapi::ipv4SocketAddress(address, port);
    return bindTo(socket, reinterpret_cast<sockaddr*>(&local), sizeof local, refusal);
}

bool bindAddress(Socket& socket, const IpAddress& address, std::uint16_t port,
                 SystemReason* refusal)
{
    if (address.family == Family::IPv4) {
        std::uint32_t value = 0;
        std::memcpy(&value, address.bytes.data(), sizeof value);
        return bindIPv4(socket, value, port, refusal);
    }
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    std::memcpy(&local.sin6_addr, address.bytes.data(), address.bytes.size());
    local.sin6_port = htons(port);
    return bindTo(socket, reinterpret_cast<sockaddr*>(&local), sizeof local, refusal);
}

bool bindWildcard(Socket& socket, Family family, std::uint16_t port, SystemReason* refusal)
{
    return bindAddress(socket, IpAddress::any(family), port, refusal);
}

std::uint16_t localPort(const Socket& socket)
{
    sockaddr_storage address{};
    AddressLength length = sizeof address;
    if (::getsockname(native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throwLastSocketError();
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

void listenOn(Socket& socket, int backlog)
{
    if (::listen(native(socket), backlog) != 0) {
        throwLastSocketError();
    }
}

void connectIPv4(Socket& socket, std::uint32_t address, std::uint16_t port,
                 const WakeSignal* abandon)
{
    connectIPv4Within(socket, address, port, -1, abandon);
}

std::uint32_t loopbackIPv4()
{
    return htonl(INADDR_LOOPBACK);
}

void connectLoopback(Socket& socket, Family family, std::uint16_t port)
{
    if (family == Family::IPv4) {
        connectIPv4(socket, loopbackIPv4(), port);
        return;
    }
    sockaddr_in6 peer{};
    peer.sin6_family = AF_INET6;
    peer.sin6_addr = in6addr_loopback;
    peer.sin6_port = htons(port);
    if (::connect(native(socket), reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        throwLastSocketError();
    }
}

std::uint32_t resolveIPv4(const std::string& host)
{
    socketapi::startSockets();
    in_addr dotted{};
    if (::inet_pton(AF_INET, host.c_str(), &dotted) == 1) {
        return dotted.s_addr;
    }
    if (socketapi::equalIgnoringCase(host.c_str(), "localhost")) {
        return htonl(INADDR_LOOPBACK);
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (result != 0) {
        SystemReason reason = socketapi::resolverFailure(result);
        throwSocketError(reason.number, std::move(reason.text));
    }
    if (found == nullptr) {
        throwSocketError(socketapi::hostNotFound);
    }
    const std::uint32_t address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return address;
}

std::string dottedIPv4(std::uint32_t address)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr value{};
    value.s_addr = address;
    ::inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

std::optional<Endpoint> peerEndpoint(const Socket& socket)
{
    sockaddr_storage address{};
    AddressLength length = sizeof address;
    if (::getpeername(native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::nullopt;
    }
    Endpoint peer;
    if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        peer.address.family = Family::IPv6;
        std::memcpy(peer.address.bytes.data(), &v6->sin6_addr, peer.address.bytes.size());
        peer.port = ntohs(v6->sin6_port);
        return peer;
    }
    if (address.ss_family != AF_INET) {
        return std::nullopt;
    }
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    std::memcpy(peer.address.bytes.data(), &v4->sin_addr, 4);
    peer.port = ntohs(v4->sin_port);
    return peer;
}

std::string peerAddressText(const Socket& socket)
{
    const std::optional<Endpoint> peer = peerEndpoint(socket);
    return peer ? endpointText(*peer) : "unknown";
}

} // namespace gateway
