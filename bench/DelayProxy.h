#pragma once
// A TCP proxy on 127.0.0.1 that holds every byte back for a fixed time in each direction, so that a
// benchmark against local servers sees the round-trip time of a real network (bandwidth stays
// that of loopback). Each connection gets four threads: a reader and a writer per direction.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackListener.h"

class DelayProxy {
public:
    DelayProxy(int targetPort, std::chrono::milliseconds oneWay) : target_(targetPort), delay_(oneWay) {
        listen_ = ListenOnLoopback(port_);
        ::listen(listen_, 16);
        threads_.emplace_back([this] { AcceptLoop(); });
    }
    ~DelayProxy() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
            for (auto& pipe : pipes_) pipe->Stop();
        }
        ::shutdown(listen_, SHUT_RDWR);
        // The accept thread first: once it has ended, nothing adds to the list.
        threads_[0].join();
        for (size_t i = 1; i < threads_.size(); ++i) threads_[i].join();
        ::close(listen_);
        for (int fd : fds_) ::close(fd);
    }
    int Port() const { return port_; }

private:
    using Clock = std::chrono::steady_clock;

    // One direction: what the reader got, each piece with the time it may leave.
    struct Pipe {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<std::pair<Clock::time_point, std::string>> pieces;  // an empty piece = end
        bool stopped = false;
        void Stop() {
            std::lock_guard<std::mutex> lock(mutex);
            stopped = true;
            ready.notify_all();
        }
    };

    void AcceptLoop() {
        for (;;) {
            int client = ::accept(listen_, nullptr, nullptr);
            if (client < 0) return;
            int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            sa.sin_port = htons(static_cast<uint16_t>(target_));
            if (::connect(server, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
                ::close(client);
                ::close(server);
                continue;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                ::close(client);
                ::close(server);
                return;
            }
            fds_.push_back(client);
            fds_.push_back(server);
            for (auto [from, to] : {std::pair{client, server}, std::pair{server, client}}) {
                auto pipe = std::make_shared<Pipe>();
                pipes_.push_back(pipe);
                threads_.emplace_back([this, from = from, pipe] { Read(from, *pipe); });
                threads_.emplace_back([to = to, pipe] { Write(to, *pipe); });
            }
        }
    }
    void Read(int from, Pipe& pipe) {
        char buffer[65536];
        for (;;) {
            ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
            std::lock_guard<std::mutex> lock(pipe.mutex);
            pipe.pieces.emplace_back(Clock::now() + delay_, n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "");
            pipe.ready.notify_all();
            if (n <= 0) return;
        }
    }
    static void Write(int to, Pipe& pipe) {
        int on = 1;
        ::setsockopt(to, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        for (;;) {
            std::unique_lock<std::mutex> lock(pipe.mutex);
            pipe.ready.wait(lock, [&] { return pipe.stopped || !pipe.pieces.empty(); });
            if (pipe.stopped) return;
            auto [due, bytes] = std::move(pipe.pieces.front());
            pipe.pieces.pop_front();
            lock.unlock();
            std::this_thread::sleep_until(due);
            if (bytes.empty()) {
                ::shutdown(to, SHUT_WR);
                return;
            }
            for (size_t at = 0; at < bytes.size();) {
                ssize_t n = ::send(to, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
                if (n <= 0) return;
                at += static_cast<size_t>(n);
            }
        }
    }

    int target_;
    std::chrono::milliseconds delay_;
    int listen_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    bool stopping_ = false;
    std::vector<int> fds_;
    std::vector<std::shared_ptr<Pipe>> pipes_;
    std::vector<std::thread> threads_;  // only the accept thread adds to it once it runs
};
