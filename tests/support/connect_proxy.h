// A plain HTTP proxy that only opens tunnels. It answers each CONNECT with 200
// and relays bytes between the client and one fixed port on 127.0.0.1,
// whatever host the CONNECT names, so that a client asking for the real
// service host reaches the local test service. It counts the tunnels it opens.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace Corvex::Tracking::Testing {

class ConnectProxy {
public:
    // Tunnels lead to 127.0.0.1:targetPort.
    explicit ConnectProxy(int targetPort);
    ~ConnectProxy();
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port). Throws
    // std::runtime_error when the port cannot be had.
    void start(int port = 0);
    // Closes the listener and every open tunnel; returns once all its threads
    // have ended. Called by the destructor.
    void stop();

    int port() const { return listenPort; }
    // "http://127.0.0.1:<port>", the form libcurl's proxy option takes.
    std::string url() const;
    // Tunnels opened so far (CONNECT requests answered with 200).
    int tunnelCount() const;
    // The host and port each CONNECT named, in order ("host:443").
    std::vector<std::string> tunnelTargets() const;

private:
    void acceptLoop();
    void runTunnel(int clientSocket);
    // Reads the CONNECT request head; bytes read past it are left in rest.
    bool readRequestHead(int clientSocket, std::string& head, std::string& rest);
    void relay(int clientSocket, int serviceSocket);
    void track(int socket);
    void untrack(int socket);

    const int targetPort;
    int listenSocket = -1;
    int listenPort = 0;
    int wakePipe[2] = {-1, -1};  // written once by stop(); every poll watches it

    mutable std::mutex mutex;
    std::set<int> openSockets;  // of the tunnels, shut down by stop()
    std::vector<std::string> targets;
    std::vector<std::thread> tunnelThreads;
    bool stopping = false;
    std::thread acceptThread;
};

}  // namespace Corvex::Tracking::Testing
