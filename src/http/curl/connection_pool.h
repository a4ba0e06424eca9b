// Connections outlive the calls that opened them, as the platform's do: a
// call reuses an idle connection an earlier call (any export, any thread)
// left open, so it pays one round trip instead of TCP, TLS and the request.
// New connections resume the TLS session of an earlier one to the same host
// and verify against one trust store for the whole process. Nothing here is
// configured from outside.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <string>

namespace vfb {

struct PoolSockets;

// A multi handle lent to one transfer at a time, together with the idle
// connections it kept from earlier calls; given back on destruction. While
// any is lent, the stack stays set up.
class PooledMulti {
public:
    PooledMulti() = default;
    PooledMulti(std::string key, CURLM *multi, PoolSockets *sockets)
        : key_(std::move(key)), multi_(multi), sockets_(sockets) {}
    PooledMulti(PooledMulti &&other) noexcept
        : key_(std::move(other.key_)), multi_(other.multi_), sockets_(other.sockets_) {
        other.multi_ = nullptr;
    }
    PooledMulti &operator=(PooledMulti &&other) noexcept;
    PooledMulti(const PooledMulti &) = delete;
    PooledMulti &operator=(const PooledMulti &) = delete;
    ~PooledMulti() { reset(); }

    CURLM *get() const { return multi_; }
    explicit operator bool() const { return multi_ != nullptr; }
    // Lets the pool see the sockets `easy` opens on this handle: the
    // transfer's own open-socket callback hands its opens to OpenSocket.
    bool Track(CURL *easy) const;
    curl_socket_t OpenSocket(curlsocktype purpose, curl_sockaddr *address) const;
    // Gives the handle back now; its easy handles must have been removed.
    void reset();

private:
    std::string key_;
    CURLM *multi_ = nullptr;
    PoolSockets *sockets_ = nullptr;
};

namespace connection_pool {

// A multi handle for a transfer to `origin` ("https://host:port"): the one
// that last served it if it is idle, else any idle one, else a new one.
// Empty when the stack cannot be set up.
PooledMulti Take(const std::string &origin);
// What every transfer on a pooled handle is set up with: the shared TLS
// sessions, the process's trust store, and the idle age past which a kept
// connection is not tried. False when the stack refuses any of it.
bool Configure(CURL *easy);
// Whether a TLS connection received its peer's close alert; it outlives
// the connection, for the transfer to ask once the connection has ended.
using CloseAlertFlag = std::shared_ptr<std::atomic<bool>>;
// The flag of the TLS connection `easy` reads from now; null for plain HTTP.
CloseAlertFlag CloseAlertOf(CURL *easy);
// Whether the TLS connection `easy` reads from holds bytes it has not
// handed out yet: read past the answer's end, they are no answer of ours.
bool HasUnreadTls(CURL *easy);
// At exit or unload: closes every idle connection and releases the stack
// once no handle is lent. Later calls still work, without pooling.
void Shutdown();

}  // namespace connection_pool
}  // namespace vfb
