#include "http/curl/connection_pool.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

namespace vfb {

// The sockets of one multi handle's connections. Touched only by the thread
// that holds the handle, or under the pool's lock while it is idle.
struct PoolSockets {
    std::vector<curl_socket_t> open;

    static curl_socket_t Open(void *self, curlsocktype, curl_sockaddr *address) {
        const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (fd < 0) return CURL_SOCKET_BAD;
        static_cast<PoolSockets *>(self)->open.push_back(fd);
        return fd;
    }
    static int Close(void *self, curl_socket_t fd) {
        auto &open = static_cast<PoolSockets *>(self)->open;
        open.erase(std::remove(open.begin(), open.end(), fd), open.end());
        return ::close(fd);
    }

    // An idle connection has nothing to say; if it has, its server closed it
    // or is closing it (TLS's close alert arrives first). This stack takes
    // pending bytes for a live connection, would send on it, and would then
    // resend the request elsewhere, so such a socket is swapped for an
    // unconnected one: the stack then sees it dead, closes it and connects anew.
    void RetireClosing() {
        std::vector<pollfd> fds;
        for (curl_socket_t fd : open) fds.push_back(pollfd{fd, POLLIN, 0});
        if (fds.empty() || ::poll(fds.data(), fds.size(), 0) <= 0) return;
        for (const pollfd &p : fds) {
            if (!p.revents) continue;
            const int dead = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (dead < 0) continue;
            ::dup3(dead, p.fd, O_CLOEXEC);
            ::close(dead);
        }
    }
};

namespace {

using Clock = std::chrono::steady_clock;

// Few enough that a process never sits on many sockets: at most this many
// idle multi handles, each keeping at most kConnectionsPerMulti connections.
// Each multi handle also holds a socket pair of its own for wake-ups.
constexpr std::size_t kIdleMultis = 4;
constexpr long kConnectionsPerMulti = 2;
// Servers drop idle keep-alive connections after a while (nginx after 75 s,
// Apache after 5 s); a multi idle this long is closed rather than tried.
constexpr auto kIdleLimit = std::chrono::seconds(60);

class Pool {
public:
    Pool() : owner_(::getpid()), ready_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {
        if (ready_) {
            share_ = NewShare();
            bundleOnly_ = HasReadableBundle();
        }
        // A child must never write to its parent's connections (their TLS
        // state is the parent's); the handlers run in the forking thread.
        ::pthread_atfork([] { Instance().mutex_.lock(); }, [] { Instance().mutex_.unlock(); },
                         [] { Instance().ForgetAfterFork(); });
    }

    // At unload (dlclose) or exit: every pooled connection closed, everything freed.
    ~Pool() {
        if (::getpid() != owner_) return;
        for (const Idle &idle : idle_) Close(idle);
        if (share_) {
            curl_share_cleanup(share_->share);
            delete share_;
        }
        if (ready_) curl_global_cleanup();
    }

    static Pool &Instance() {
        static Pool pool;
        return pool;
    }

    bool ready() const { return ready_; }

    PooledMulti Take(const std::string &origin) {
        std::vector<Idle> expired;
        Idle taken{};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto now = Clock::now();
            std::size_t kept = 0;
            for (const Idle &idle : idle_) {
                if (now - idle.since > kIdleLimit)
                    expired.push_back(idle);
                else
                    idle_[kept++] = idle;
            }
            idle_.resize(kept);
            // The most recent for this origin holds its connection; any
            // other still saves parsing the trust store again.
            auto chosen = idle_.end();
            for (auto it = idle_.begin(); it != idle_.end(); ++it)
                if (it->origin == origin || chosen == idle_.end() || chosen->origin != origin) chosen = it;
            if (chosen != idle_.end()) {
                taken = *chosen;
                idle_.erase(chosen);
                taken.sockets->RetireClosing();
            }
        }
        for (const Idle &old : expired) Close(old);
        if (!taken.multi) {
            taken.multi = curl_multi_init();
            if (!taken.multi) return PooledMulti();
            taken.sockets = new PoolSockets;
            curl_multi_setopt(taken.multi, CURLMOPT_MAXCONNECTS, kConnectionsPerMulti);
        }
        return PooledMulti(origin, taken.multi, taken.sockets);
    }

    void Give(std::string origin, CURLM *multi, PoolSockets *sockets) {
        Idle evicted{};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            idle_.push_back(Idle{std::move(origin), multi, sockets, Clock::now()});
            if (idle_.size() > kIdleMultis) {
                evicted = idle_.front();
                idle_.erase(idle_.begin());
            }
        }
        if (evicted.multi) Close(evicted);
    }

    void Configure(CURL *easy) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!share_ && ready_) share_ = NewShare();
            if (share_) curl_easy_setopt(easy, CURLOPT_SHARE, share_->share);
        }
        // The stack keeps a parsed trust store for reuse only when it comes
        // from the bundle alone; with the certificate folder beside it, it
        // parses the whole bundle for every connection (~20 ms). The folder
        // holds the bundle's certificates, and verification stays on.
        if (bundleOnly_) curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, -1L);
        // The stack's own age check, for connections the handle keeps.
        curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, static_cast<long>(kIdleLimit.count()));
    }

private:
    struct Idle {
        std::string origin;
        CURLM *multi = nullptr;
        PoolSockets *sockets = nullptr;
        Clock::time_point since;
    };

    // The sockets go with their handle: its cleanup closes them through them.
    static void Close(const Idle &idle) {
        curl_multi_cleanup(idle.multi);
        delete idle.sockets;
    }

    // Abandoned, never cleaned: cleaning would send the parent's TLS close
    // on sockets the parent still uses. A share lock another thread held at
    // the fork would stay locked here, so the child starts a share of its own.
    void ForgetAfterFork() {
        for (const Idle &idle : idle_)
            for (curl_socket_t fd : idle.sockets->open) ::close(fd);
        idle_.clear();
        share_ = nullptr;
        owner_ = ::getpid();
        mutex_.unlock();
    }

    // The share with its own locks, so that a child can start afresh.
    struct Shared {
        CURLSH *share;
        std::mutex locks[CURL_LOCK_DATA_LAST];
    };

    // Whether the stack's trust store is its CA bundle plus a certificate
    // folder, with the bundle there to read.
    static bool HasReadableBundle() {
        CURL *probe = curl_easy_init();
        if (!probe) return false;
        char *bundle = nullptr, *folder = nullptr;
        const bool ok = curl_easy_getinfo(probe, CURLINFO_CAINFO, &bundle) == CURLE_OK && bundle &&
                        curl_easy_getinfo(probe, CURLINFO_CAPATH, &folder) == CURLE_OK && folder &&
                        ::access(bundle, R_OK) == 0;
        curl_easy_cleanup(probe);
        return ok;
    }

    static Shared *NewShare() {
        auto *shared = new Shared;
        CURLSH *share = shared->share = curl_share_init();
        if (!share) {
            delete shared;
            return nullptr;
        }
        curl_share_setopt(share, CURLSHOPT_USERDATA, shared);
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Lock);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Unlock);
        // Connections themselves are not shared this way: libcurl does not
        // support a shared connection cache across threads. The pool lends
        // whole multi handles instead.
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        return shared;
    }

    static std::mutex &LockFor(void *shared, curl_lock_data data) {
        return static_cast<Shared *>(shared)->locks[data < CURL_LOCK_DATA_LAST ? data : 0];
    }
    static void Lock(CURL *, curl_lock_data data, curl_lock_access, void *shared) {
        LockFor(shared, data).lock();
    }
    static void Unlock(CURL *, curl_lock_data data, void *shared) { LockFor(shared, data).unlock(); }

    std::mutex mutex_;
    pid_t owner_;
    bool ready_;
    bool bundleOnly_ = false;
    Shared *share_ = nullptr;
    std::vector<Idle> idle_;
};

}  // namespace

PooledMulti &PooledMulti::operator=(PooledMulti &&other) noexcept {
    if (this != &other) {
        reset();
        key_ = std::move(other.key_);
        multi_ = other.multi_;
        sockets_ = other.sockets_;
        other.multi_ = nullptr;
    }
    return *this;
}

void PooledMulti::reset() {
    if (multi_) Pool::Instance().Give(std::move(key_), multi_, sockets_);
    multi_ = nullptr;
}

curl_socket_t PooledMulti::OpenSocket(curlsocktype purpose, curl_sockaddr *address) const {
    return PoolSockets::Open(sockets_, purpose, address);
}

// A connection outlives the transfer that opened it, so its close goes to
// the handle's record directly.
void PooledMulti::Track(CURL *easy) const {
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &PoolSockets::Close);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, sockets_);
}

namespace connection_pool {

bool Ready() { return Pool::Instance().ready(); }
PooledMulti Take(const std::string &origin) { return Pool::Instance().Take(origin); }
void Configure(CURL *easy) { Pool::Instance().Configure(easy); }

}  // namespace connection_pool
}  // namespace vfb
