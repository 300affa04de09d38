#include "support/connect_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace Corvex::Tracking::Testing {

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

}  // namespace

ConnectProxy::ConnectProxy(int targetPort) : targetPort(targetPort) {}

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
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping || wakePipe[1] < 0) return;
        stopping = true;
        const char byte = 0;
        // The pipe stays readable from now on, which ends every poll below.
        while (::write(wakePipe[1], &byte, 1) < 0 && errno == EINTR) {
        }
        // Ends any blocking send or receive of a tunnel.
        for (int socket : openSockets) ::shutdown(socket, SHUT_RDWR);
    }
    if (acceptThread.joinable()) acceptThread.join();
    {
        // No tunnel thread starts once the accept loop has ended.
        std::lock_guard<std::mutex> lock(mutex);
        threads.swap(tunnelThreads);
    }
    for (std::thread& thread : threads) thread.join();
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
        openSockets.insert(client);
        tunnelThreads.emplace_back(&ConnectProxy::runTunnel, this, client);
    }
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

void ConnectProxy::runTunnel(int clientSocket) {
    std::string head;
    std::string rest;
    if (readRequestHead(clientSocket, head, rest)) {
        // "CONNECT host:port HTTP/1.1"
        const size_t firstSpace = head.find(' ');
        const size_t secondSpace =
            head.find(' ', firstSpace == std::string::npos ? 0 : firstSpace + 1);
        if (head.compare(0, firstSpace, "CONNECT") != 0 || secondSpace == std::string::npos) {
            sendAll(clientSocket, "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n");
        } else {
            const int serviceSocket = connectToLoopback(targetPort);
            if (serviceSocket < 0) {
                sendAll(clientSocket, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
            } else {
                track(serviceSocket);
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    targets.push_back(head.substr(firstSpace + 1, secondSpace - firstSpace - 1));
                }
                if (sendAll(clientSocket, "HTTP/1.1 200 Connection established\r\n\r\n") &&
                    sendAll(serviceSocket, rest)) {
                    relay(clientSocket, serviceSocket);
                }
                untrack(serviceSocket);
                ::close(serviceSocket);
            }
        }
    }
    untrack(clientSocket);
    ::close(clientSocket);
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
            // Either side closing ends the tunnel: the other side sees its
            // connection closed, as it would without a proxy.
            if (count <= 0 || !sendAll(to, buffer, static_cast<size_t>(count))) return;
        }
    }
}

}  // namespace Corvex::Tracking::Testing
