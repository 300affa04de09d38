#include "service/connect_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "service/host_certificates.h"

namespace Corvex::Tracking::Service {

namespace {

constexpr size_t MAX_HEAD_BYTES = 8192;

// Relayed bytes go out at once: holding back small writes (a request head,
// then its body) until the peer acknowledges adds tens of milliseconds per
// request.
void sendWithoutDelay(int socket) {
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Sends all bytes; false when the peer is gone.
bool sendAll(int socket, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool sendAll(int socket, const std::string& text) {
    return sendAll(socket, text.data(), text.size());
}

void answer(int socket, const char* statusLine) {
    sendAll(socket, std::string("HTTP/1.1 ") + statusLine +
                        "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

int connectToLoopback(int port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    sendWithoutDelay(socket);
    return socket;
}

int localPortOf(int socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

// The host of a CONNECT target "host:port" or "[address]:port", or "" when
// the target is not of that form or names no valid host or port.
std::string connectHost(const std::string& target) {
    const size_t colon = target.rfind(':');
    if (colon == std::string::npos || colon + 1 == target.size()) return "";
    const std::string port = target.substr(colon + 1);
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return "";
    if (const int number = std::stoi(port); number < 1 || number > 65535) return "";
    std::string host = target.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        if (host.find(':') == std::string::npos) return "";
    } else if (host.find(':') != std::string::npos) {
        return "";  // an IPv6 address must be bracketed
    }
    return HostCertificates::subjectAltName(host).empty() ? "" : host;
}

}  // namespace

ConnectProxy::ConnectProxy(int tunnelPort, int plainPort)
    : tunnelPort(tunnelPort), plainPort(plainPort) {}

ConnectProxy::~ConnectProxy() {
    stop();
}

void ConnectProxy::start(int port) {
    if (::pipe2(wakePipe, O_CLOEXEC) != 0) throw std::runtime_error("proxy: pipe failed");
    listenSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenSocket < 0) throw std::runtime_error("proxy: socket failed");
    const int reuse = 1;
    ::setsockopt(listenSocket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listenSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenSocket, 64) != 0 ||
        ::getsockname(listenSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("proxy: cannot listen on port " + std::to_string(port));
    }
    listenPort = ntohs(address.sin_port);
    acceptThread = std::thread(&ConnectProxy::acceptLoop, this);
}

void ConnectProxy::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping || wakePipe[1] < 0) return;
        stopping = true;
        const char byte = 0;
        // The pipe stays readable from now on, which ends every poll below.
        while (::write(wakePipe[1], &byte, 1) < 0 && errno == EINTR) {
        }
        // Ends any blocking send or receive of a connection.
        for (int socket : openSockets) ::shutdown(socket, SHUT_RDWR);
    }
    if (acceptThread.joinable()) acceptThread.join();
    std::map<std::thread::id, std::thread> threads;
    {
        // No connection thread starts once the accept loop has ended.
        std::lock_guard<std::mutex> lock(mutex);
        threads.swap(connectionThreads);
    }
    for (auto& [id, thread] : threads) thread.join();
    if (listenSocket >= 0) ::close(listenSocket);
    ::close(wakePipe[0]);
    ::close(wakePipe[1]);
    listenSocket = wakePipe[0] = wakePipe[1] = -1;
}

std::string ConnectProxy::url() const {
    return "http://127.0.0.1:" + std::to_string(listenPort);
}

int ConnectProxy::tunnelCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(targets.size());
}

std::vector<std::string> ConnectProxy::tunnelTargets() const {
    std::lock_guard<std::mutex> lock(mutex);
    return targets;
}

std::string ConnectProxy::tunnelHost(int sourcePort) const {
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = hostsBySourcePort.find(sourcePort);
    return found == hostsBySourcePort.end() ? std::string() : found->second;
}

void ConnectProxy::acceptLoop() {
    for (;;) {
        pollfd watched[2] = {{listenSocket, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[1].revents != 0) return;
        const int client = ::accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        sendWithoutDelay(client);
        std::lock_guard<std::mutex> lock(mutex);
        joinFinishedLocked();
        openSockets.insert(client);
        std::thread thread(&ConnectProxy::serveConnection, this, client);
        const std::thread::id id = thread.get_id();
        connectionThreads.emplace(id, std::move(thread));
    }
}

void ConnectProxy::joinFinishedLocked() {
    for (const std::thread::id id : finishedThreads) {
        const auto found = connectionThreads.find(id);
        if (found == connectionThreads.end()) continue;
        found->second.join();
        connectionThreads.erase(found);
    }
    finishedThreads.clear();
}

void ConnectProxy::track(int socket) {
    std::lock_guard<std::mutex> lock(mutex);
    openSockets.insert(socket);
    if (stopping) ::shutdown(socket, SHUT_RDWR);
}

void ConnectProxy::untrack(int socket) {
    std::lock_guard<std::mutex> lock(mutex);
    openSockets.erase(socket);
}

bool ConnectProxy::readRequestHead(int clientSocket, std::string& head, std::string& rest) {
    std::string received;
    char buffer[4096];
    for (;;) {
        const size_t end = received.find("\r\n\r\n");
        if (end != std::string::npos) {
            head = received.substr(0, end);
            rest = received.substr(end + 4);
            return true;
        }
        if (received.size() > MAX_HEAD_BYTES) return false;
        pollfd watched[2] = {{clientSocket, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (watched[1].revents != 0) return false;
        const ssize_t count = ::recv(clientSocket, buffer, sizeof buffer, 0);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        received.append(buffer, static_cast<size_t>(count));
    }
}

void ConnectProxy::serveConnection(int clientSocket) {
    std::string head;
    std::string rest;
    if (readRequestHead(clientSocket, head, rest)) {
        // "METHOD target HTTP/1.1"
        const size_t firstSpace = head.find(' ');
        const size_t secondSpace =
            head.find(' ', firstSpace == std::string::npos ? 0 : firstSpace + 1);
        const std::string method = head.substr(0, firstSpace);
        if (firstSpace == std::string::npos || secondSpace == std::string::npos) {
            answer(clientSocket, "400 Bad Request");
        } else if (method == "CONNECT") {
            runTunnel(clientSocket, head.substr(firstSpace + 1, secondSpace - firstSpace - 1),
                      rest);
        } else if (plainPort == 0) {
            answer(clientSocket, "405 Method Not Allowed");
        } else if (const int plainSocket = connectToLoopback(plainPort); plainSocket < 0) {
            answer(clientSocket, "502 Bad Gateway");
        } else {
            track(plainSocket);
            if (sendAll(plainSocket, head + "\r\n\r\n" + rest)) relay(clientSocket, plainSocket);
            untrack(plainSocket);
            ::close(plainSocket);
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    openSockets.erase(clientSocket);
    ::close(clientSocket);
    finishedThreads.push_back(std::this_thread::get_id());
}

void ConnectProxy::runTunnel(int clientSocket, const std::string& target, const std::string& rest) {
    const std::string host = connectHost(target);
    if (host.empty()) {
        answer(clientSocket, "400 Bad Request");
        return;
    }
    const int serviceSocket = connectToLoopback(tunnelPort);
    if (serviceSocket < 0) {
        answer(clientSocket, "502 Bad Gateway");
        return;
    }
    track(serviceSocket);
    const int sourcePort = localPortOf(serviceSocket);
    {
        // Known before the client can start its TLS handshake.
        std::lock_guard<std::mutex> lock(mutex);
        targets.push_back(target);
        hostsBySourcePort[sourcePort] = host;
    }
    if (sendAll(clientSocket, "HTTP/1.1 200 Connection established\r\n\r\n") &&
        sendAll(serviceSocket, rest)) {
        relay(clientSocket, serviceSocket);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        hostsBySourcePort.erase(sourcePort);
    }
    untrack(serviceSocket);
    ::close(serviceSocket);
}

void ConnectProxy::relay(int clientSocket, int serviceSocket) {
    char buffer[16384];
    for (;;) {
        pollfd watched[3] = {
            {clientSocket, POLLIN, 0}, {serviceSocket, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (::poll(watched, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[2].revents != 0) return;
        for (int side = 0; side < 2; ++side) {
            if (watched[side].revents == 0) continue;
            const int from = watched[side].fd;
            const int to = side == 0 ? serviceSocket : clientSocket;
            const ssize_t count = ::recv(from, buffer, sizeof buffer, 0);
            if (count < 0 && errno == EINTR) continue;
            // Either side closing ends the connection: the other side sees it
            // closed, as it would without a proxy.
            if (count <= 0 || !sendAll(to, buffer, static_cast<size_t>(count))) return;
        }
    }
}

}  // namespace Corvex::Tracking::Service
