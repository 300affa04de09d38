// A plain HTTP proxy in front of a local service. Each CONNECT is answered
// with 200 and its bytes are relayed to one fixed TLS port on 127.0.0.1,
// whatever host it names, so that a client asking for a real host reaches
// the local service; the service can learn which host each tunnel named
// (tunnelHost). Other requests go to a plain HTTP port when one is given,
// and are refused with 405 otherwise.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace Corvex::Tracking::Service {

class ConnectProxy {
public:
    // Tunnels lead to 127.0.0.1:tunnelPort; other requests to
    // 127.0.0.1:plainPort, or nowhere when it is 0.
    explicit ConnectProxy(int tunnelPort, int plainPort = 0);
    ~ConnectProxy();
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port). Throws
    // std::runtime_error when the port cannot be had.
    void start(int port = 0);
    // Closes the listener and every open connection; returns once all its
    // threads have ended. Called by the destructor.
    void stop();

    int port() const { return listenPort; }
    // "http://127.0.0.1:<port>", the form libcurl's proxy option takes.
    std::string url() const;
    // Tunnels opened so far (CONNECT requests answered with 200).
    int tunnelCount() const;
    // The host and port each CONNECT named, in order ("host:443").
    std::vector<std::string> tunnelTargets() const;
    // The host named by the open tunnel whose connection to the TLS port
    // comes from this local port, or "" when there is none.
    std::string tunnelHost(int sourcePort) const;

private:
    void acceptLoop();
    void serveConnection(int clientSocket);
    void runTunnel(int clientSocket, const std::string& target, const std::string& rest);
    // Reads a request head; bytes read past it are left in rest.
    bool readRequestHead(int clientSocket, std::string& head, std::string& rest);
    void relay(int clientSocket, int serviceSocket);
    void track(int socket);
    void untrack(int socket);
    // Joins the threads of connections that have ended (mutex held).
    void joinFinishedLocked();

    const int tunnelPort;
    const int plainPort;
    int listenSocket = -1;
    int listenPort = 0;
    int wakePipe[2] = {-1, -1};  // written once by stop(); every poll watches it

    mutable std::mutex mutex;
    std::set<int> openSockets;  // of the connections, shut down by stop()
    std::vector<std::string> targets;
    std::map<int, std::string> hostsBySourcePort;
    std::map<std::thread::id, std::thread> connectionThreads;
    std::vector<std::thread::id> finishedThreads;
    bool stopping = false;
    std::thread acceptThread;
};

}  // namespace Corvex::Tracking::Service
