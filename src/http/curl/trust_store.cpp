#include "http/curl/trust_store.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vfb {
namespace trust_store {
namespace {

// What the trust files looked like when a store was made; any difference
// (a certificate added or removed, a bundle rewritten) means a new store.
struct Stamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long seconds = 0, nanoseconds = 0;

    static Stamp Of(const std::string &path) {
        Stamp s;
        struct stat st;
        if (path.empty() || ::stat(path.c_str(), &st) != 0) return s;
        s.exists = true;
        s.device = st.st_dev;
        s.inode = st.st_ino;
        s.size = st.st_size;
        s.seconds = st.st_mtim.tv_sec;
        s.nanoseconds = st.st_mtim.tv_nsec;
        return s;
    }
    bool operator==(const Stamp &o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               seconds == o.seconds && nanoseconds == o.nanoseconds;
    }
};

std::vector<std::string> SplitDirs(const std::string &list) {
    std::vector<std::string> dirs;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        if (end > start) dirs.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return dirs;
}

// Where the trust files are and what they looked like: compared whole at
// each new connection.
struct Snapshot {
    std::string file;
    std::string dirList;
    Stamp fileStamp;
    std::vector<Stamp> dirStamps;

    bool operator==(const Snapshot &o) const {
        return file == o.file && dirList == o.dirList && fileStamp == o.fileStamp && dirStamps == o.dirStamps;
    }
};

// The stack's built-in locations, read once: they are compiled in.
const std::pair<std::string, std::string> &BuiltInLocations() {
    static const std::pair<std::string, std::string> locations = [] {
        std::pair<std::string, std::string> found;
        CURL *probe = curl_easy_init();
        if (!probe) return found;
        char *file = nullptr, *dir = nullptr;
        if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &file) == CURLE_OK && file) found.first = file;
        if (curl_easy_getinfo(probe, CURLINFO_CAPATH, &dir) == CURLE_OK && dir) found.second = dir;
        curl_easy_cleanup(probe);
        return found;
    }();
    return locations;
}

Snapshot Look() {
    Snapshot s;
    const char *file = std::getenv(X509_get_default_cert_file_env());
    const char *dirs = std::getenv(X509_get_default_cert_dir_env());
    s.file = file ? file : BuiltInLocations().first;
    s.dirList = dirs ? dirs : BuiltInLocations().second;
    s.fileStamp = Stamp::Of(s.file);
    for (const std::string &dir : SplitDirs(s.dirList)) s.dirStamps.push_back(Stamp::Of(dir));
    return s;
}

struct X509Deleter {
    void operator()(X509 *cert) const { X509_free(cert); }
};

// The bundle's certificates, parsed on the first issuer the folder could
// not name and shared by every store made while the file stays the same.
class Bundle {
public:
    Bundle(std::string path, Stamp stamp) : path_(std::move(path)), stamp_(stamp) {}

    const std::string &path() const { return path_; }
    const Stamp &stamp() const { return stamp_; }

    // Adds the certificates whose subject is `name` to `store`; the first
    // of them into `found`.
    bool AddMatches(X509_STORE *store, const X509_NAME *name, X509_OBJECT *found) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!parsed_) Parse();
        bool any = false;
        for (const auto &cert : certs_) {
            if (X509_NAME_cmp(X509_get_subject_name(cert.get()), name) != 0) continue;
            X509_STORE_add_cert(store, cert.get());
            // As the folder's lookup does, `found` borrows the store's
            // reference: the caller takes its own and never frees this one.
            if (!any && X509_OBJECT_set1_X509(found, cert.get()) == 1) {
                X509_free(cert.get());
                any = true;
            }
        }
        return any;
    }

private:
    void Parse() {
        parsed_ = true;
        std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_file(path_.c_str(), "r"), &BIO_free);
        if (!in) return;
        while (X509 *cert = PEM_read_bio_X509_AUX(in.get(), nullptr, nullptr, nullptr))
            certs_.emplace_back(cert);
        ERR_clear_error();  // the end of the file reads as an error
    }

    const std::string path_;
    const Stamp stamp_;
    std::mutex mutex_;
    bool parsed_ = false;
    std::vector<std::unique_ptr<X509, X509Deleter>> certs_;
};

using BundleRef = std::shared_ptr<Bundle>;

int BundleBySubject(X509_LOOKUP *lookup, X509_LOOKUP_TYPE type, const X509_NAME *name, X509_OBJECT *found) {
    auto *bundle = static_cast<BundleRef *>(X509_LOOKUP_get_method_data(lookup));
    if (type != X509_LU_X509 || !bundle || !*bundle) return 0;
    return (*bundle)->AddMatches(X509_LOOKUP_get_store(lookup), name, found) ? 1 : 0;
}

void FreeBundleLookup(X509_LOOKUP *lookup) {
    delete static_cast<BundleRef *>(X509_LOOKUP_get_method_data(lookup));
}

// Plain data, so that nothing here is torn down by the C++ runtime at exit
// while a late call may still want it; Release() frees it.
struct State {
    std::mutex mutex;
    X509_LOOKUP_METHOD *bundleLookup = nullptr;
    X509_STORE *store = nullptr;
    Snapshot *snapshot = nullptr;
    BundleRef *bundle = nullptr;
    unsigned long generation = 0;
};
State state;

X509_STORE *Build(const Snapshot &snapshot) {
    if (!state.bundleLookup) {
        state.bundleLookup = X509_LOOKUP_meth_new("vantrelfb bundle");
        if (!state.bundleLookup) return nullptr;
        X509_LOOKUP_meth_set_get_by_subject(state.bundleLookup, &BundleBySubject);
        X509_LOOKUP_meth_set_free(state.bundleLookup, &FreeBundleLookup);
    }
    X509_STORE *store = X509_STORE_new();
    if (!store) return nullptr;
    bool ok = true;
    // The folder first: it names each certificate by its subject's hash, so
    // a lookup reads one file instead of the whole bundle.
    if (!snapshot.dirList.empty()) {
        X509_LOOKUP *dir = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
        ok = dir && X509_LOOKUP_add_dir(dir, snapshot.dirList.c_str(), X509_FILETYPE_PEM) == 1;
    }
    if (ok && snapshot.fileStamp.exists) {
        if (!state.bundle || !*state.bundle || (*state.bundle)->path() != snapshot.file ||
            !((*state.bundle)->stamp() == snapshot.fileStamp)) {
            delete state.bundle;
            state.bundle = new BundleRef(std::make_shared<Bundle>(snapshot.file, snapshot.fileStamp));
        }
        X509_LOOKUP *file = X509_STORE_add_lookup(store, state.bundleLookup);
        ok = file && X509_LOOKUP_set_method_data(file, new BundleRef(*state.bundle)) == 1;
    }
    ERR_clear_error();
    if (!ok) {
        X509_STORE_free(store);
        return nullptr;
    }
    return store;
}

}  // namespace

namespace {

// Under the lock: the store for the trust files as they are now.
bool RefreshLocked(const Snapshot &now) {
    if (state.store && state.snapshot && *state.snapshot == now) return true;
    X509_STORE *fresh = Build(now);
    if (!fresh) return false;
    X509_STORE_free(state.store);
    state.store = fresh;
    delete state.snapshot;
    state.snapshot = new Snapshot(now);
    ++state.generation;
    return true;
}

}  // namespace

unsigned long Generation() {
    const Snapshot now = Look();
    std::lock_guard<std::mutex> lock(state.mutex);
    RefreshLocked(now);
    return state.generation;
}

X509_STORE *Acquire() {
    {
        // Each transfer has looked at the files already (Generation), just
        // before it connects: a connection takes that store as it is.
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.store) return X509_STORE_up_ref(state.store) == 1 ? state.store : nullptr;
    }
    const Snapshot now = Look();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!RefreshLocked(now)) return nullptr;
    return X509_STORE_up_ref(state.store) == 1 ? state.store : nullptr;
}

void Release() {
    std::lock_guard<std::mutex> lock(state.mutex);
    X509_STORE_free(state.store);
    state.store = nullptr;
    delete state.snapshot;
    state.snapshot = nullptr;
    delete state.bundle;
    state.bundle = nullptr;
    // Called once every connection has ended, so no store uses the method.
    if (state.bundleLookup) {
        X509_LOOKUP_meth_free(state.bundleLookup);
        state.bundleLookup = nullptr;
    }
}

void LockForFork() { state.mutex.lock(); }
void UnlockAfterFork() { state.mutex.unlock(); }

void ForgetAfterFork() {
    state.store = nullptr;
    state.snapshot = nullptr;
    state.bundle = nullptr;
    state.mutex.unlock();
}

}  // namespace trust_store
}  // namespace vfb
