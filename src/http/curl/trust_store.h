// The certificates the system trusts, looked up once per process rather than
// parsed once per connection. The hashed folder is searched lazily (only the
// certificates a server's chain names are read); the bundle beside it is
// parsed once, and only when the folder lacks an issuer, so trust is the
// union of both, exactly as when the stack loads them itself. The locations
// are OpenSSL's: its built-in ones, or SSL_CERT_FILE and SSL_CERT_DIR.
#pragma once

#include <openssl/ssl.h>

namespace vfb {
namespace trust_store {

// The store for a new connection, with a reference the caller owns (it may
// hand it to SSL_CTX_set_cert_store): the one Generation() last looked at.
// Null when no store can be made.
X509_STORE *Acquire();

// Looks at the trust files (a stat, not a parse) and makes a new store when
// they changed; called as each transfer starts. The number changes with the
// store, and sessions verified under an earlier number must not be resumed
// (a resumed session skips verification).
unsigned long Generation();

// Drops what the process holds, once every connection has ended.
void Release();

// Around fork, as pthread_atfork's three handlers. Another thread may have
// been inside a store (holding its locks) at the fork, so the child starts
// afresh and leaves the parent's objects alone; ForgetAfterFork unlocks.
void LockForFork();
void UnlockAfterFork();
void ForgetAfterFork();

}  // namespace trust_store
}  // namespace vfb
