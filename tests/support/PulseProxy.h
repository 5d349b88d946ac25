#pragma once

// A proxy between the program and a sound server that speaks the server's native protocol, so
// that a test can make the server misbehave in ways a real one does now and then: answer a
// request late, refuse it, or take another volume than the one asked for. It listens on a Unix
// socket of its own, connects each client to the real server, and passes the protocol's frames
// on, whole, in both directions; a rule of the test's decides about the reply to each command.
//
// Clients must not share memory with the server (a proxy cannot pass the memory's file
// descriptors on): UseWithoutSharedMemory() points this process's clients at a configuration
// that turns it off.

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velmora::test {

// Commands of the native protocol that the tests look at.
enum PulseCommand : std::uint32_t {
    kCommandError = 0,
    kCommandReply = 2,
    kCommandSetSinkVolume = 36,
    kCommandSetSinkInputVolume = 37,
    kCommandSetSinkMute = 39,
    kCommandSetSinkInputMute = 53,
};

class PulseProxy {
public:
    // What becomes of one command.
    struct Reply {
        std::chrono::milliseconds delay{0};  // the server's answer held back this long
        bool refuse = false;                 // not passed on; answered with an error
    };
    // Decides about a command the client sent.
    using Rule = std::function<Reply(std::uint32_t command)>;
    // May change the volume a set asks for (the channels' values, 0x10000 = 100 %).
    using VolumeRule = std::function<void(std::uint32_t command, std::vector<std::uint32_t>&)>;

    explicit PulseProxy(std::string server) : server_(SocketPath(std::move(server))) {
        char pattern[] = "/tmp/velmora-proxy-XXXXXX";
        if (::mkdtemp(pattern)) {
            dir_ = pattern;
        }
        listener_ = Listen(dir_ / "native");
        thread_ = std::thread([this] { Run(); });
    }
    ~PulseProxy() {
        stop_ = true;
        thread_.join();
        for (auto& link : links_) {
            ::close(link.client);
            ::close(link.server);
        }
        if (listener_ >= 0) {
            ::close(listener_);
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    PulseProxy(const PulseProxy&) = delete;
    PulseProxy& operator=(const PulseProxy&) = delete;

    std::string Server() const { return "unix:" + (dir_ / "native").string(); }

    void SetRule(Rule rule) {
        std::lock_guard guard(mutex_);
        rule_ = std::move(rule);
    }
    void SetVolumeRule(VolumeRule rule) {
        std::lock_guard guard(mutex_);
        volumeRule_ = std::move(rule);
    }
    // How many commands of a kind the clients sent.
    int Count(std::uint32_t command) {
        std::lock_guard guard(mutex_);
        return counts_[command];
    }

    // The clients made after this in this process use no shared memory with the server.
    static void UseWithoutSharedMemory() {
        static const std::filesystem::path config = [] {
            const auto path = std::filesystem::temp_directory_path() /
                              ("velmora-client-" + std::to_string(::getpid()) + ".conf");
            std::ofstream(path) << "enable-shm = no\nenable-memfd = no\nautospawn = no\n";
            return path;
        }();
        ::setenv("PULSE_CLIENTCONFIG", config.c_str(), 1);
    }

private:
    // A frame: a descriptor of five words (length, channel, offset high and low, flags), then
    // the payload. Commands travel on channel -1 as a tagged structure: the command, its tag.
    static constexpr std::size_t kDescriptor = 20;
    static constexpr std::uint32_t kCommandChannel = 0xFFFFFFFFu;

    struct Frame {
        std::vector<std::uint8_t> bytes;
        std::chrono::steady_clock::time_point due;
    };
    struct Direction {
        std::vector<std::uint8_t> in;  // bytes not yet a whole frame
        std::vector<Frame> out;        // frames waiting for their time, in order
    };
    struct Link {
        int client;
        int server;
        Direction up;    // client to server
        Direction down;  // server to client
        std::map<std::uint32_t, std::chrono::milliseconds> delayOfTag;
    };

    static std::string SocketPath(const std::string& server) {
        constexpr std::string_view kScheme = "unix:";
        return std::string_view(server).starts_with(kScheme) ? server.substr(kScheme.size())
                                                             : server;
    }

    static int Listen(const std::filesystem::path& path) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd, 8) != 0) {
            return -1;
        }
        return fd;
    }

    int Connect() const {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, server_.c_str(), sizeof address.sun_path - 1);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    static std::uint32_t Word(const std::uint8_t* at) {
        std::uint32_t value;
        std::memcpy(&value, at, 4);
        return ntohl(value);
    }
    static void PutWord(std::uint8_t* at, std::uint32_t value) {
        value = htonl(value);
        std::memcpy(at, &value, 4);
    }

    // The command and tag of a command frame ('L' and a word each).
    static std::optional<std::pair<std::uint32_t, std::uint32_t>> CommandOf(
        const std::vector<std::uint8_t>& frame) {
        if (Word(&frame[4]) != kCommandChannel || frame.size() < kDescriptor + 10 ||
            frame[kDescriptor] != 'L' || frame[kDescriptor + 5] != 'L') {
            return std::nullopt;
        }
        return std::pair{Word(&frame[kDescriptor + 1]), Word(&frame[kDescriptor + 6])};
    }

    // The volume of a set: after the command, the tag, the object's index ('L') and its name
    // ('t' and a string, or 'N'), a channel volume ('v', a byte of channels, a word each).
    void ChangeVolume(std::uint32_t command, std::vector<std::uint8_t>& frame) {
        std::size_t at = kDescriptor + 15;
        if (at < frame.size() && frame[at] == 't') {
            at = std::size_t(std::find(frame.begin() + long(at) + 1, frame.end(), 0) -
                             frame.begin()) +
                 1;
        } else if (at < frame.size() && frame[at] == 'N') {
            ++at;
        }
        if (at + 2 > frame.size() || frame[at] != 'v') {
            return;
        }
        const std::size_t channels = frame[at + 1];
        if (at + 2 + 4 * channels > frame.size()) {
            return;
        }
        std::vector<std::uint32_t> volumes(channels);
        for (std::size_t c = 0; c < channels; ++c) {
            volumes[c] = Word(&frame[at + 2 + 4 * c]);
        }
        volumeRule_(command, volumes);
        for (std::size_t c = 0; c < channels && c < volumes.size(); ++c) {
            PutWord(&frame[at + 2 + 4 * c], volumes[c]);
        }
    }

    // An error reply in place of a reply: the command, the tag, the error (access denied).
    static std::vector<std::uint8_t> ErrorFor(std::uint32_t tag) {
        std::vector<std::uint8_t> frame(kDescriptor + 15, 0);
        PutWord(&frame[0], 15);
        PutWord(&frame[4], kCommandChannel);
        frame[kDescriptor] = 'L';
        PutWord(&frame[kDescriptor + 1], kCommandError);
        frame[kDescriptor + 5] = 'L';
        PutWord(&frame[kDescriptor + 6], tag);
        frame[kDescriptor + 10] = 'L';
        PutWord(&frame[kDescriptor + 11], 1);
        return frame;
    }

    void Take(Link& link, bool up, std::vector<std::uint8_t> frame) {
        Frame out{std::move(frame), std::chrono::steady_clock::now()};
        std::lock_guard guard(mutex_);
        if (const auto command = CommandOf(out.bytes)) {
            const auto [code, tag] = *command;
            if (up) {
                ++counts_[code];
                const Reply reply = rule_ ? rule_(code) : Reply{};
                if (reply.refuse) {
                    // The server never sees it; the client hears that it was refused.
                    link.down.out.push_back({ErrorFor(tag), out.due});
                    return;
                }
                link.delayOfTag[tag] = reply.delay;
                const bool volume =
                    code == kCommandSetSinkVolume || code == kCommandSetSinkInputVolume;
                if (volume && volumeRule_) {
                    ChangeVolume(code, out.bytes);
                }
            } else if ((code == kCommandReply || code == kCommandError) &&
                       link.delayOfTag.count(tag) != 0) {
                out.due += link.delayOfTag[tag];
                link.delayOfTag.erase(tag);
            }
        }
        (up ? link.up : link.down).out.push_back(std::move(out));
    }

    // Whole frames out of the bytes read; false when the peer closed.
    bool Read(Link& link, bool up) {
        Direction& direction = up ? link.up : link.down;
        std::uint8_t buffer[65536];
        const ssize_t n = ::recv(up ? link.client : link.server, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        direction.in.insert(direction.in.end(), buffer, buffer + n);
        while (direction.in.size() >= kDescriptor) {
            const std::size_t size = kDescriptor + Word(direction.in.data());
            if (direction.in.size() < size) {
                break;
            }
            std::vector<std::uint8_t> frame(direction.in.begin(),
                                            direction.in.begin() + long(size));
            direction.in.erase(direction.in.begin(), direction.in.begin() + long(size));
            Take(link, up, std::move(frame));
        }
        return true;
    }

    // Frames whose time has come go out; a frame held back does not hold up the ones after it,
    // as a server that answers one request late still answers the others.
    static bool Flush(Direction& direction, int fd) {
        const auto now = std::chrono::steady_clock::now();
        for (auto it = direction.out.begin(); it != direction.out.end();) {
            if (it->due > now) {
                ++it;
                continue;
            }
            std::size_t sent = 0;
            while (sent < it->bytes.size()) {
                const ssize_t n =
                    ::send(fd, it->bytes.data() + sent, it->bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    return false;
                }
                sent += std::size_t(n);
            }
            it = direction.out.erase(it);
        }
        return true;
    }

    void Run() {
        while (!stop_) {
            std::vector<pollfd> fds{{listener_, POLLIN, 0}};
            for (const Link& link : links_) {
                fds.push_back({link.client, POLLIN, 0});
                fds.push_back({link.server, POLLIN, 0});
            }
            ::poll(fds.data(), fds.size(), 2);
            const std::size_t polled = links_.size();
            if ((fds[0].revents & POLLIN) != 0) {
                const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                const int server = client >= 0 ? Connect() : -1;
                if (server >= 0) {
                    links_.push_back(Link{client, server, {}, {}, {}});
                } else if (client >= 0) {
                    ::close(client);
                }
            }
            for (std::size_t i = 0; i < links_.size(); ++i) {
                Link& link = links_[i];
                const pollfd* pair = i < polled ? &fds[1 + 2 * i] : nullptr;
                bool open = true;
                if (pair && (pair[0].revents & (POLLIN | POLLHUP)) != 0) {
                    open = Read(link, true);
                }
                if (open && pair && (pair[1].revents & (POLLIN | POLLHUP)) != 0) {
                    open = Read(link, false);
                }
                open = open && Flush(link.up, link.server) && Flush(link.down, link.client);
                if (!open) {
                    ::close(link.client);
                    ::close(link.server);
                    links_.erase(links_.begin() + long(i));
                    break;  // the pollfds no longer match; the next turn polls anew
                }
            }
        }
    }

    std::filesystem::path server_;
    std::filesystem::path dir_;
    int listener_ = -1;
    std::vector<Link> links_;  // the proxy's thread only
    std::mutex mutex_;
    Rule rule_;
    VolumeRule volumeRule_;
    std::map<std::uint32_t, int> counts_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace velmora::test
