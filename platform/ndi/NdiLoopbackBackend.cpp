#include "NdiLoopbackBackend.h"

#include "Log.h"
#include "NdiLoopbackCodec.h"
#include "NdiPixelConversion.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

using namespace ndi;
namespace Codec = NdiLoopbackCodec;

constexpr int kPollMilliseconds = 50;
constexpr int kSendTimeoutSeconds = 2;

bool processIsAlive(long pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// Writes all of `bytes`; false on an error or a peer that stopped reading.
bool writeAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

void setSendTimeout(int fd)
{
    timeval timeout{kSendTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Splits "127.0.0.1:port"; false for anything else (only loopback addresses are taken).
bool parseAddress(const std::string& address, sockaddr_in& out)
{
    const auto colon = address.rfind(':');
    if (colon == std::string::npos)
        return false;
    const std::string host = address.substr(0, colon);
    char* end = nullptr;
    const long port = std::strtol(address.c_str() + colon + 1, &end, 10);
    if (host != "127.0.0.1" || !end || *end || port < 1 || port > 65535)
        return false;
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(uint16_t(port));
    out.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return true;
}

// --- Finder ----------------------------------------------------------------------------------

class LoopbackFinder : public Finder {
public:
    std::vector<Source> sources() override
    {
        std::vector<Source> found;
        const std::string dir = NdiLoopbackBackend::discoveryDirectory();
        DIR* d = ::opendir(dir.c_str());
        if (!d)
            return found;
        std::vector<std::string> names;
        while (dirent* entry = ::readdir(d)) {
            const std::string file = entry->d_name;
            if (file.size() > 4 && file.compare(file.size() - 4, 4, ".src") == 0)
                names.push_back(file);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());  // a stable order: by process, then by sender
        for (const std::string& file : names) {
            const std::string path = dir + "/" + file;
            std::ifstream in(path);
            Source source;
            std::string pidText;
            if (!std::getline(in, source.name) || !std::getline(in, source.address) || !std::getline(in, pidText))
                continue;  // being written, or not ours
            const long pid = std::strtol(pidText.c_str(), nullptr, 10);
            if (!processIsAlive(pid)) {
                KLOG_INFO("removing the stale NDI source file {}", path);
                ::unlink(path.c_str());
                continue;
            }
            found.push_back(std::move(source));
        }
        return found;
    }
};

// --- Sender ----------------------------------------------------------------------------------

class LoopbackSender : public Sender {
public:
    static std::unique_ptr<LoopbackSender> create(const std::string& name)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return nullptr;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            KLOG_ERROR("cannot listen for NDI receivers: {}", std::strerror(errno));
            ::close(fd);
            return nullptr;
        }
        auto sender = std::unique_ptr<LoopbackSender>(new LoopbackSender(fd));
        if (!sender->announce(NdiLoopbackBackend::fullSourceName(name), ntohs(address.sin_port)))
            return nullptr;
        return sender;
    }

    ~LoopbackSender() override
    {
        if (!file_.empty())
            ::unlink(file_.c_str());
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        ::close(listen_);
        for (Connection& c : connections_)
            ::close(c.fd);
    }

    int connections() override
    {
        std::lock_guard lock(mutex_);
        return int(connections_.size());
    }

    Tally tally() override
    {
        std::lock_guard lock(mutex_);
        Tally combined;
        for (const Connection& c : connections_) {
            combined.onProgram |= c.tally.onProgram;
            combined.onPreview |= c.tally.onPreview;
        }
        return combined;
    }

    void sendVideo(const VideoFrame& frame) override { broadcast(Codec::encodeVideo(frame), "video"); }
    void sendAudio(const AudioFrame& frame) override { broadcast(Codec::encodeAudio(frame), "audio"); }

private:
    struct Connection {
        int fd;
        Codec::Reader reader;
        Tally tally;
    };

    explicit LoopbackSender(int listenFd) : listen_(listenFd)
    {
        thread_ = std::thread([this] { run(); });
    }

    bool announce(const std::string& fullName, uint16_t port)
    {
        static std::atomic<int> counter{0};
        const std::string dir = NdiLoopbackBackend::discoveryDirectory();
        const std::string base = dir + "/" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        file_ = base + ".src";
        const std::string temporary = base + ".tmp";
        {
            std::ofstream out(temporary, std::ios::trunc);
            out << fullName << "\n127.0.0.1:" << port << "\n" << ::getpid() << "\n";
            if (!out.flush()) {
                KLOG_ERROR("cannot write the NDI source file {}", temporary);
                file_.clear();
                return false;
            }
        }
        if (::rename(temporary.c_str(), file_.c_str()) != 0) {
            KLOG_ERROR("cannot publish the NDI source file {}: {}", file_, std::strerror(errno));
            ::unlink(temporary.c_str());
            file_.clear();
            return false;
        }
        return true;
    }

    void broadcast(const std::vector<uint8_t>& message, const char* what)
    {
        if (message.empty()) {
            KLOG_WARN("NDI {} frame not sent: its sizes do not describe a frame", what);
            return;
        }
        std::lock_guard lock(mutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (writeAll(it->fd, message)) {
                ++it;
                continue;
            }
            KLOG_INFO("NDI receiver gone or stalled, connection closed");
            ::close(it->fd);
            it = connections_.erase(it);
        }
    }

    // Accepts receivers and reads their tallies.
    void run()
    {
        std::vector<pollfd> fds;
        std::vector<uint8_t> buffer(4096);
        while (!stop_) {
            fds.clear();
            fds.push_back({listen_, POLLIN, 0});
            {
                std::lock_guard lock(mutex_);
                for (const Connection& c : connections_)
                    fds.push_back({c.fd, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), kPollMilliseconds) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    setSendTimeout(fd);
                    std::lock_guard lock(mutex_);
                    connections_.push_back({fd, {}, {}});
                }
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!fds[i].revents)
                    continue;
                const ssize_t n = ::recv(fds[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                std::lock_guard lock(mutex_);
                auto it = std::find_if(connections_.begin(), connections_.end(),
                                       [&](const Connection& c) { return c.fd == fds[i].fd; });
                if (it == connections_.end())
                    continue;  // closed by a send meanwhile
                bool keep = n > 0;
                if (keep) {
                    it->reader.append(buffer.data(), size_t(n));
                    while (auto message = it->reader.next())
                        if (auto* tally = std::get_if<Tally>(&*message))
                            it->tally = *tally;
                    if (it->reader.failed()) {
                        KLOG_WARN("malformed message from an NDI receiver, connection closed");
                        keep = false;
                    }
                }
                if (!keep) {
                    ::close(it->fd);
                    connections_.erase(it);
                }
            }
        }
    }

    const int listen_;
    std::string file_;
    std::mutex mutex_;  // connections_ (sends, tallies, accepts)
    std::deque<Connection> connections_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// --- Receiver --------------------------------------------------------------------------------

class OwnedVideo : public CapturedVideo {
public:
    std::vector<uint8_t> bytes;
};
class OwnedAudio : public CapturedAudio {
public:
    std::vector<float> samples;
};

// P216 as 8-bit UYVY, for receivers that asked for 8 bits.
std::unique_ptr<OwnedVideo> narrowP216(Codec::DecodedVideo& video)
{
    const VideoFrame& in = video.frame;
    auto out = std::make_unique<OwnedVideo>();
    out->frame = in;
    out->frame.fourCC = kFourCC_UYVY;
    out->frame.lineStride = (in.width + 1) / 2 * 4;
    out->bytes.resize(size_t(out->frame.lineStride) * size_t(in.height));
    const uint8_t* chromaPlane = in.data + size_t(in.lineStride) * size_t(in.height);
    for (int row = 0; row < in.height; ++row) {
        const uint8_t* luma = in.data + size_t(row) * size_t(in.lineStride);
        const uint8_t* chroma = chromaPlane + size_t(row) * size_t(in.lineStride);
        uint8_t* o = out->bytes.data() + size_t(row) * size_t(out->frame.lineStride);
        for (int x = 0; x + 1 < in.width; x += 2) {
            o[2 * x + 0] = chroma[2 * x + 1];      // Cb, the high byte
            o[2 * x + 1] = luma[2 * x + 1];
            o[2 * x + 2] = chroma[2 * x + 3];      // Cr
            o[2 * x + 3] = luma[2 * x + 3];
        }
    }
    out->frame.data = out->bytes.data();
    return out;
}

class LoopbackReceiver : public Receiver {
public:
    LoopbackReceiver(const sockaddr_in& address, ColorFormat format) : address_(address), format_(format)
    {
        thread_ = std::thread([this] { run(); });
    }
    ~LoopbackReceiver() override
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
    }

    std::unique_ptr<CapturedVideo> captureVideo() override
    {
        std::lock_guard lock(mutex_);
        if (video_.empty())
            return nullptr;
        auto frame = std::move(video_.front());
        video_.pop_front();
        return frame;
    }
    std::unique_ptr<CapturedAudio> captureAudio() override
    {
        std::lock_guard lock(mutex_);
        if (audio_.empty())
            return nullptr;
        auto frame = std::move(audio_.front());
        audio_.pop_front();
        return frame;
    }
    int queuedVideoFrames() override
    {
        std::lock_guard lock(mutex_);
        return int(video_.size());
    }
    void setTally(const Tally& tally) override
    {
        std::lock_guard lock(writeMutex_);
        tally_ = tally;
        if (fd_ >= 0)
            writeAll(fd_, Codec::encodeTally(tally));
    }

private:
    bool connect()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) != 0) {
            ::close(fd);
            return false;
        }
        setSendTimeout(fd);
        std::lock_guard lock(writeMutex_);
        fd_ = fd;
        if (tally_ != Tally{})
            writeAll(fd_, Codec::encodeTally(tally_));
        return true;
    }

    void disconnect()
    {
        std::lock_guard lock(writeMutex_);
        ::close(fd_);
        fd_ = -1;
    }

    // Connects (again, while the source is away), then reads until stopped.
    void run()
    {
        std::vector<uint8_t> buffer(1 << 16);
        while (!stop_) {
            if (fd_ < 0 && !connect()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds * 2));
                continue;
            }
            Codec::Reader reader;
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, kPollMilliseconds) <= 0)
                    continue;
                const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                reader.append(buffer.data(), size_t(n));
                while (auto message = reader.next())
                    take(*message);
                if (reader.failed()) {
                    KLOG_WARN("malformed message from the NDI source, connection closed");
                    break;
                }
            }
            disconnect();
        }
    }

    void take(Codec::Message& message)
    {
        if (auto* video = std::get_if<Codec::DecodedVideo>(&message)) {
            std::unique_ptr<OwnedVideo> frame;
            if (video->frame.fourCC == kFourCC_P216 && format_ == ColorFormat::UYVY_BGRA) {
                frame = narrowP216(*video);
            } else {
                frame = std::make_unique<OwnedVideo>();
                frame->frame = video->frame;
                frame->bytes = std::move(video->bytes);
                frame->frame.data = frame->bytes.data();
            }
            std::lock_guard lock(mutex_);
            if (video_.size() >= size_t(NdiLoopbackBackend::kVideoQueueLength))
                video_.pop_front();
            video_.push_back(std::move(frame));
        } else if (auto* audio = std::get_if<Codec::DecodedAudio>(&message)) {
            auto frame = std::make_unique<OwnedAudio>();
            frame->frame = audio->frame;
            frame->samples = std::move(audio->samples);
            frame->frame.data = frame->samples.data();
            std::lock_guard lock(mutex_);
            if (audio_.size() >= size_t(NdiLoopbackBackend::kAudioQueueLength))
                audio_.pop_front();
            audio_.push_back(std::move(frame));
        }
    }

    const sockaddr_in address_;
    const ColorFormat format_;
    std::mutex mutex_;  // the queues
    std::deque<std::unique_ptr<CapturedVideo>> video_;
    std::deque<std::unique_ptr<CapturedAudio>> audio_;
    std::mutex writeMutex_;  // fd_ changes and writes; the reader thread alone reads
    int fd_ = -1;
    Tally tally_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

std::string NdiLoopbackBackend::fullSourceName(const std::string& name)
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !host[0])
        std::strcpy(host, "localhost");
    std::string upper = host;
    const auto dot = upper.find('.');
    if (dot != std::string::npos)
        upper.resize(dot);
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return upper + " (" + name + ")";
}

std::string NdiLoopbackBackend::discoveryDirectory()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtime && *runtime ? std::string(runtime) + "/kavio-ndi"
                                                : "/tmp/kavio-ndi-" + std::to_string(::getuid());
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

std::unique_ptr<Finder> NdiLoopbackBackend::createFinder()
{
    return std::make_unique<LoopbackFinder>();
}

std::unique_ptr<Sender> NdiLoopbackBackend::createSender(const std::string& name)
{
    return LoopbackSender::create(name);
}

std::unique_ptr<Receiver> NdiLoopbackBackend::createReceiver(const Source& source, ColorFormat format,
                                                             const std::string&)
{
    sockaddr_in address;
    if (!parseAddress(source.address, address)) {
        KLOG_WARN("NDI source {} has no loopback address ({})", source.name, source.address);
        return nullptr;
    }
    return std::make_unique<LoopbackReceiver>(address, format);
}

bool NdiLoopbackBackend::v210ToP216(const VideoFrame& from, VideoFrame& to)
{
    return NdiPixelConversion::v210ToP216(from.data, from.lineStride, from.width, from.height,
                                          const_cast<uint8_t*>(to.data), to.lineStride);
}

bool NdiLoopbackBackend::p216ToV210(const VideoFrame& from, VideoFrame& to)
{
    return NdiPixelConversion::p216ToV210(from.data, from.lineStride, from.width, from.height,
                                          const_cast<uint8_t*>(to.data), to.lineStride);
}
