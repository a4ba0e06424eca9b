#include "http/curl/connection_pool.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <type_traits>
#include <vector>

#include "http/curl/trust_store.h"

namespace vfb {

// The descriptors of one multi handle: its connections, and the socket pair
// the stack opens for its own wake-ups. Touched only by the thread that holds
// the handle, or under the pool's lock while it is idle.
struct PoolSockets {
    std::vector<curl_socket_t> open;
    int wake[2] = {-1, -1};
    // What each wake-up descriptor was when found: a number reused by
    // someone else since is never closed for it.
    ino_t wakeInode[2] = {0, 0};

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

    // An idle connection has nothing to say; if it has, its server closed
    // it or is closing it (TLS's close alert arrives first).
    bool AnyReadable() const {
        std::vector<pollfd> fds;
        for (curl_socket_t fd : open) fds.push_back(pollfd{fd, POLLIN, 0});
        return !fds.empty() && ::poll(fds.data(), fds.size(), 0) > 0;
    }

    // In a forked child: the copies go, the parent's connections stay.
    void CloseCopies() const {
        for (curl_socket_t fd : open) ::close(fd);
        for (int i = 0; i < 2; ++i) {
            struct stat st;
            if (wake[i] >= 0 && ::fstat(wake[i], &st) == 0 && st.st_ino == wakeInode[i]) ::close(wake[i]);
        }
    }
};

namespace {

using Clock = std::chrono::steady_clock;

// The idle pool grows to the number of handles the process has used at once,
// within these bounds; each handle keeps at most kConnectionsPerMulti.
constexpr std::size_t kMinIdleMultis = 4;
constexpr std::size_t kMaxIdleMultis = 32;
constexpr long kConnectionsPerMulti = 2;
// Servers drop idle keep-alive connections after a while (nginx after 75 s,
// Apache after 5 s); a multi idle this long is closed rather than tried.
constexpr auto kIdleLimit = std::chrono::seconds(60);

struct Idle {
    std::string origin;
    CURLM *multi = nullptr;
    PoolSockets *sockets = nullptr;
    Clock::time_point since;
};

// The share with its own locks, so that a child can start afresh.
struct Shared {
    CURLSH *share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];
};

// Plain data, set up on first use and torn down by Shutdown(), never by the
// C++ runtime: an application's static object destroyed after the library's
// would otherwise call into a destroyed pool.
struct PoolState {
    std::mutex mutex;
    bool started = false;    // the stack is set up (and shut down again at exit)
    bool unloading = false;  // at exit or unload: nothing more is kept
    bool forkHandlers = false;
    int users = 0;  // handles lent right now
    std::size_t peakUsers = 0;
    pid_t owner = 0;
    Shared *share = nullptr;
    unsigned long shareTrust = 0;              // the trust its sessions were verified under
    std::vector<Shared *> *retired = nullptr;  // shares of an earlier trust, freed once unused
    std::vector<Idle> *idle = nullptr;
    std::vector<PoolSockets *> *lent = nullptr;
};
static_assert(std::is_trivially_destructible<PoolState>::value, "the pool must survive static destruction");
PoolState pool;

// Each connection (the stack makes a context per connection) records
// whether its peer sent TLS's close alert, under this index.
std::atomic<int> closeAlertIndex{-1};

void CloseIdle(const Idle &idle) {
    curl_multi_cleanup(idle.multi);
    delete idle.sockets;
}

std::mutex &LockFor(void *shared, curl_lock_data data) {
    return static_cast<Shared *>(shared)->locks[data < CURL_LOCK_DATA_LAST ? data : 0];
}
void ShareLock(CURL *, curl_lock_data data, curl_lock_access, void *shared) { LockFor(shared, data).lock(); }
void ShareUnlock(CURL *, curl_lock_data data, void *shared) { LockFor(shared, data).unlock(); }

Shared *NewShare() {
    auto *shared = new Shared;
    CURLSH *share = shared->share = curl_share_init();
    // Connections themselves are not shared this way: libcurl does not
    // support a shared connection cache across threads. The pool lends
    // whole multi handles instead.
    if (!share || curl_share_setopt(share, CURLSHOPT_USERDATA, shared) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &ShareLock) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &ShareUnlock) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK) {
        if (share) curl_share_cleanup(share);
        delete shared;
        return nullptr;
    }
    return shared;
}

// The stack's wake-up pair is opened without close-on-exec and no option
// changes that, so the pool finds it: the Unix stream sockets without the
// flag that a new multi handle added. Multi handles are made under the
// pool's lock, so no other of ours appears meanwhile.
std::vector<int> InheritableUnixSockets() {
    std::vector<int> found;
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir) return found;
    const int own = ::dirfd(dir);
    while (dirent *entry = ::readdir(dir)) {
        char *end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (*end || end == entry->d_name || fd == own) continue;
        const int flags = ::fcntl(static_cast<int>(fd), F_GETFD);
        struct stat st;
        int domain = 0, type = 0;
        socklen_t size = sizeof domain;
        if (flags < 0 || (flags & FD_CLOEXEC) || ::fstat(static_cast<int>(fd), &st) != 0 ||
            !S_ISSOCK(st.st_mode) ||
            ::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0)
            continue;
        size = sizeof type;
        if (domain == AF_UNIX && ::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_TYPE, &type, &size) == 0 &&
            type == SOCK_STREAM)
            found.push_back(static_cast<int>(fd));
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

CURLM *NewMulti(PoolSockets *sockets) {
    const std::vector<int> before = InheritableUnixSockets();
    CURLM *multi = curl_multi_init();
    if (!multi) return nullptr;
    std::vector<int> added;
    const std::vector<int> after = InheritableUnixSockets();
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    struct stat st[2];
    if (added.size() == 2 && ::fstat(added[0], &st[0]) == 0 && ::fstat(added[1], &st[1]) == 0) {
        for (int i = 0; i < 2; ++i) {
            ::fcntl(added[i], F_SETFD, FD_CLOEXEC);
            sockets->wake[i] = added[i];
            sockets->wakeInode[i] = st[i].st_ino;
        }
    }
    if (curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, kConnectionsPerMulti) != CURLM_OK) {
        curl_multi_cleanup(multi);
        return nullptr;
    }
    return multi;
}

void ForkPrepare() {
    pool.mutex.lock();
    trust_store::LockForFork();
}
void ForkParent() {
    trust_store::UnlockAfterFork();
    pool.mutex.unlock();
}
// Abandoned, never cleaned: cleaning would send the parent's TLS close on
// sockets the parent still uses. Handles lent to other threads at the fork
// belong to threads the child does not have. A share lock another thread
// held at the fork would stay locked here, so the child starts a share of
// its own.
void ForkChild() {
    if (pool.idle)
        for (const Idle &idle : *pool.idle) idle.sockets->CloseCopies();
    if (pool.lent)
        for (const PoolSockets *sockets : *pool.lent) sockets->CloseCopies();
    pool.idle = pool.started ? new std::vector<Idle> : nullptr;
    pool.lent = pool.started ? new std::vector<PoolSockets *> : nullptr;
    pool.share = nullptr;
    pool.retired = nullptr;
    pool.users = 0;
    pool.owner = ::getpid();
    trust_store::ForgetAfterFork();
    pool.mutex.unlock();
}

void TeardownLocked(std::vector<Idle> *closing);

// At exit (before the TLS library's own clean-up, which was registered
// earlier) and at unload: every pooled connection closed, everything freed.
// A call made later sets the stack up again and keeps nothing.
void AtExit() { connection_pool::Shutdown(); }

// Under the lock. False when the stack cannot be set up.
bool StartLocked() {
    if (pool.started) return true;
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return false;
    pool.started = true;
    pool.owner = ::getpid();
    pool.idle = new std::vector<Idle>;
    pool.lent = new std::vector<PoolSockets *>;
    std::atexit(&AtExit);
    // A child must never write to its parent's connections (their TLS
    // state is the parent's); the handlers run in the forking thread.
    if (!pool.forkHandlers) pool.forkHandlers = ::pthread_atfork(&ForkPrepare, &ForkParent, &ForkChild) == 0;
    return true;
}

// Under the lock, with no handle lent: the idle handles go to `closing`,
// to be closed outside it, and the stack is released after them.
void TeardownLocked(std::vector<Idle> *closing) {
    if (pool.idle) closing->insert(closing->end(), pool.idle->begin(), pool.idle->end());
    if (pool.retired)
        for (Shared *old : *pool.retired)
            if (curl_share_cleanup(old->share) == CURLSHE_OK) delete old;
    delete pool.retired;
    pool.retired = nullptr;
    delete pool.idle;
    delete pool.lent;
    pool.idle = nullptr;
    pool.lent = nullptr;
}

void FinishTeardown(const std::vector<Idle> &closing, Shared *share) {
    for (const Idle &idle : closing) CloseIdle(idle);
    // A share still in use must keep its locks: freeing them would leave its
    // users with dangling ones.
    if (share && curl_share_cleanup(share->share) == CURLSHE_OK) delete share;
    trust_store::Release();
    // Every connection is closed: no context holds the index any more, and
    // its free function must not outlive an unload.
    if (closeAlertIndex >= 0) CRYPTO_free_ex_index(CRYPTO_EX_INDEX_SSL_CTX, closeAlertIndex);
    closeAlertIndex = -1;
    curl_global_cleanup();
}

std::size_t IdleLimitLocked() { return std::clamp(pool.peakUsers, kMinIdleMultis, kMaxIdleMultis); }

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
    if (!multi_) return;
    std::vector<Idle> closing;
    Shared *share = nullptr;
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        bool mine = false;
        if (pool.lent) {
            auto it = std::find(pool.lent->begin(), pool.lent->end(), sockets_);
            mine = it != pool.lent->end();
            if (mine) pool.lent->erase(it);
        }
        // A handle lent before a fork (in the parent) or kept past the end
        // of the pool is closed, not kept.
        if (mine && !pool.unloading && pool.owner == ::getpid()) {
            pool.idle->push_back(Idle{std::move(key_), multi_, sockets_, Clock::now()});
            while (pool.idle->size() > IdleLimitLocked()) {
                closing.push_back(pool.idle->front());
                pool.idle->erase(pool.idle->begin());
            }
        } else {
            closing.push_back(Idle{std::move(key_), multi_, sockets_, Clock::now()});
        }
        if (mine) --pool.users;
        if (pool.users == 0 && pool.unloading && pool.started) {
            TeardownLocked(&closing);
            share = pool.share;
            pool.share = nullptr;
            pool.started = false;
            last = true;
        }
    }
    multi_ = nullptr;
    if (last)
        FinishTeardown(closing, share);
    else
        for (const Idle &idle : closing) CloseIdle(idle);
}

curl_socket_t PooledMulti::OpenSocket(curlsocktype purpose, curl_sockaddr *address) const {
    return PoolSockets::Open(sockets_, purpose, address);
}

// A connection outlives the transfer that opened it, so its close goes to
// the handle's record directly.
bool PooledMulti::Track(CURL *easy) const {
    return curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &PoolSockets::Close) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, sockets_) == CURLE_OK;
}

namespace connection_pool {

PooledMulti Take(const std::string &origin) {
    std::vector<Idle> expired;
    Idle taken{};
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        if (!StartLocked()) return PooledMulti();
        const auto now = Clock::now();
        std::vector<Idle> &idle = *pool.idle;
        std::size_t kept = 0;
        for (const Idle &i : idle) {
            if (now - i.since > kIdleLimit)
                expired.push_back(i);
            else
                idle[kept++] = i;
        }
        idle.resize(kept);
        // The most recent for this origin holds its connection; any other
        // still saves setting a handle up.
        auto chosen = idle.end();
        for (auto it = idle.begin(); it != idle.end(); ++it)
            if (it->origin == origin || chosen == idle.end() || chosen->origin != origin) chosen = it;
        if (chosen != idle.end()) {
            taken = *chosen;
            idle.erase(chosen);
        }
        // A handle whose server closed one of its connections meanwhile goes
        // whole: the stack would take the pending bytes for a live
        // connection, send on it, and fail a request it must not resend.
        if (taken.multi && taken.sockets->AnyReadable()) {
            expired.push_back(taken);
            taken = Idle{};
        }
        if (!taken.multi) {
            taken.sockets = new PoolSockets;
            taken.multi = NewMulti(taken.sockets);
            if (!taken.multi) delete taken.sockets;
        }
        if (taken.multi) {
            pool.lent->push_back(taken.sockets);
            ++pool.users;
            pool.peakUsers = std::max(pool.peakUsers, static_cast<std::size_t>(pool.users));
        }
    }
    for (const Idle &old : expired) CloseIdle(old);
    if (!taken.multi) return PooledMulti();
    return PooledMulti(origin, taken.multi, taken.sockets);
}

namespace {

using NewSessionFn = int (*)(SSL *, SSL_SESSION *);
std::atomic<NewSessionFn> stackNewSession{nullptr};

// Only a session whose handshake verified the peer for the name it was
// asked for may be resumed later: the stack stores each session as soon as
// the handshake ends, before it checks the host name itself.
int OnNewSession(SSL *ssl, SSL_SESSION *session) {
    const NewSessionFn keep = stackNewSession.load();
    const char *name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
    X509 *peer = SSL_get0_peer_certificate(ssl);
    if (!keep || !name || !peer || SSL_get_verify_result(ssl) != X509_V_OK ||
        X509_check_host(peer, name, 0, 0, nullptr) != 1)
        return 0;
    return keep(ssl, session);
}

void FreeCloseAlert(void *, void *flag, CRYPTO_EX_DATA *, int, long, void *) {
    delete static_cast<CloseAlertFlag *>(flag);
}

void OnTlsEvent(const SSL *ssl, int where, int alert) {
    // Our own close alert, written when the connection closes, does not count.
    if ((where & SSL_CB_READ_ALERT) != SSL_CB_READ_ALERT || (alert & 0xff) != SSL3_AD_CLOSE_NOTIFY) return;
    if (auto *flag =
            static_cast<CloseAlertFlag *>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), closeAlertIndex)))
        (*flag)->store(true);
}

// Each new connection: the process's trust store instead of the stack's own
// parse of the bundle, no session kept from a failed verification, and a
// record of the peer's close alert.
CURLcode OnSslContext(CURL *, void *context, void *) {
    auto *ctx = static_cast<SSL_CTX *>(context);
    X509_STORE *store = trust_store::Acquire();
    if (!store) return CURLE_SSL_CACERT_BADFILE;
    SSL_CTX_set_cert_store(ctx, store);
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        if (closeAlertIndex < 0)
            closeAlertIndex = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, &FreeCloseAlert);
    }
    auto *flag = new CloseAlertFlag(std::make_shared<std::atomic<bool>>(false));
    if (closeAlertIndex < 0 || SSL_CTX_set_ex_data(ctx, closeAlertIndex, flag) != 1) {
        delete flag;
        return CURLE_OUT_OF_MEMORY;
    }
    SSL_CTX_set_info_callback(ctx, &OnTlsEvent);
    if (const NewSessionFn stack = SSL_CTX_sess_get_new_cb(ctx)) {
        if (stack != &OnNewSession) stackNewSession.store(stack);
        SSL_CTX_sess_set_new_cb(ctx, &OnNewSession);
    }
    return CURLE_OK;
}

}  // namespace

bool HasUnreadTls(CURL *easy) {
    curl_tlssessioninfo *info = nullptr;
    return curl_easy_getinfo(easy, CURLINFO_TLS_SSL_PTR, &info) == CURLE_OK && info &&
           info->backend == CURLSSLBACKEND_OPENSSL && info->internals &&
           SSL_has_pending(static_cast<SSL *>(info->internals)) == 1;
}

CloseAlertFlag CloseAlertOf(CURL *easy) {
    curl_tlssessioninfo *info = nullptr;
    if (closeAlertIndex < 0 || curl_easy_getinfo(easy, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || !info ||
        info->backend != CURLSSLBACKEND_OPENSSL || !info->internals)
        return nullptr;
    auto *flag = static_cast<CloseAlertFlag *>(
        SSL_CTX_get_ex_data(SSL_get_SSL_CTX(static_cast<SSL *>(info->internals)), closeAlertIndex));
    return flag ? *flag : nullptr;
}

bool Configure(CURL *easy) {
    CURLSH *share = nullptr;
    const unsigned long trust = trust_store::Generation();
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        // Sessions verified under another trust go with their share.
        if (pool.share && pool.shareTrust != trust) {
            if (!pool.retired) pool.retired = new std::vector<Shared *>;
            pool.retired->push_back(pool.share);
            pool.share = nullptr;
        }
        if (pool.retired) {
            auto &retired = *pool.retired;
            retired.erase(std::remove_if(retired.begin(), retired.end(),
                                         [](Shared *old) {
                                             if (curl_share_cleanup(old->share) != CURLSHE_OK) return false;
                                             delete old;
                                             return true;
                                         }),
                          retired.end());
        }
        if (!pool.share && pool.started) {
            pool.share = NewShare();
            pool.shareTrust = trust;
        }
        if (pool.share) share = pool.share->share;
    }
    // Without the share, connections work but do not resume sessions.
    return (!share || curl_easy_setopt(easy, CURLOPT_SHARE, share) == CURLE_OK) &&
           // The stack's own age check, for connections the handle keeps.
           curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, static_cast<long>(kIdleLimit.count())) == CURLE_OK &&
           // The trust store comes from the context callback; the stack
           // loads nothing itself, and so caches nothing of its own.
           curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &OnSslContext) == CURLE_OK;
}

void Shutdown() {
    std::vector<Idle> closing;
    Shared *share = nullptr;
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        pool.unloading = true;
        if (!pool.started || pool.users > 0 || pool.owner != ::getpid()) return;
        TeardownLocked(&closing);
        share = pool.share;
        pool.share = nullptr;
        pool.started = false;
    }
    FinishTeardown(closing, share);
}

}  // namespace connection_pool
}  // namespace vfb
