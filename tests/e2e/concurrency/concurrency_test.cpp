// Every export at once from many threads. The library keeps no shared state,
// so each call must behave exactly as it would alone: a valid result, its own
// complete answer in its own file, and in a file that several calls share,
// one complete answer, never a mix.
//
// The service plays the scripted answers in the order requests arrive, so no
// call knows in advance which answer it gets. Each
// answer therefore describes itself: "BODY:<n>:<payload>:<sha256 of all
// before the last colon>", and carries "Location: ...#n=<n>". A reader can
// tell a complete answer from a cut or mixed one, and which one it was.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "harness.h"

namespace e2e {
namespace {

constexpr int kMixedThreads = 32;  // each with its own output and media file
constexpr int kSharedThreads = 4;  // form posts into one shared output file
constexpr int kSignInThreads = 4;  // the sign-in, whose body file is fixed
constexpr int kThreads = kMixedThreads + kSharedThreads + kSignInThreads;
constexpr auto kDeadline = std::chrono::seconds(150);

// 20 calls per thread; fewer under a slow instrumented build (VFB_CONCURRENCY_CALLS).
int CallsPerThread() {
    static const int n = [] {
        const int v = std::atoi(GetEnv("VFB_CONCURRENCY_CALLS").c_str());
        return v > 0 ? v : 20;
    }();
    return n;
}

const char *const kSignInBody = "/temp4/Report2.txt";
const std::string kLocationPrefix = "https://www.facebook.com/connect/login_success.html#n=";

std::string Body(int n) {
    // 80 to 1900 bytes in all: below the form posts' limit, several chunks for the streams.
    const std::size_t length = 2 + static_cast<std::size_t>((n * 7919) % 1820);
    std::string payload = RandomBytes(length, static_cast<std::uint32_t>(n) + 1000);
    for (char &c : payload) c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
    char head[32];
    std::snprintf(head, sizeof head, "BODY:%06d:", n);
    std::string signedPart = head + payload;
    return signedPart + ":" + Sha256Hex(signedPart) + "\n";
}

// The answer's number when `bytes` is one complete answer, else -1.
int Verify(const std::string &bytes) {
    if (bytes.size() < 12 + 66 || bytes.compare(0, 5, "BODY:") != 0 || bytes.back() != '\n') return -1;
    const std::size_t colon = bytes.rfind(':');
    if (colon == std::string::npos || bytes.size() - colon != 66) return -1;
    if (Sha256Hex(bytes.substr(0, colon)) != bytes.substr(colon + 1, 64)) return -1;
    return std::atoi(bytes.c_str() + 5);
}

int LocationNumber(const std::string &location) {
    if (location.compare(0, kLocationPrefix.size(), kLocationPrefix) != 0) return -1;
    return std::atoi(location.c_str() + kLocationPrefix.size());
}

struct Mix {
    const char *fn;
    std::vector<std::string> args;  // "$OWN" and "$MEDIA_OWN" become the thread's files
};

const std::vector<Mix> &Exports() {
    static const std::vector<Mix> all = {
        {"FaceBookToken", {"https://graph.facebook.com/c?x=1", "$OWN"}},
        {"FaceBookStatus", {"hello world", "T", "100", "", "$OWN"}},
        {"FaceBookNotes", {"title", "T", "1", "content", "$OWN"}},
        {"FaceBookCheckIn", {"here", "T", "100", "", "$OWN"}},
        {"FaceBookEvents", {"party", "T", "100", "", "$OWN"}},
        {"FaceBookNotesEdit", {"title", "T", "2", "content", "1", "$OWN"}},
        {"FaceBookNotesView", {"T", "1", "2", "$OWN"}},
        {"FaceBookNotesDelete", {"T", "2", "1", "$OWN"}},
        {"FaceBookPictureUpload", {"$MEDIA_OWN", "100", "m", "T", "$OWN"}},
        {"FaceBookVideoUpload", {"$MEDIA_OWN", "100", "t", "T", "$OWN"}},
        {"FaceBookTokenGraph", {}},
        {"FaceBookDelete", {"", "T", "100_200", "", "$OWN"}},
    };
    return all;
}

int TotalCalls() { return kThreads * CallsPerThread(); }

// What the threads saw, gathered under one lock.
struct Tally {
    std::mutex lock;
    std::map<int, std::string> owners;  // answer number -> who stored or returned it
    std::set<int> signInNumbers;        // numbers the sign-in calls returned
    std::vector<std::string> problems;
    std::map<std::string, int> callsByExport;

    void Problem(const std::string &what) {
        std::lock_guard<std::mutex> g(lock);
        if (problems.size() < 40) problems.push_back(what);
    }
    void Claim(int n, const std::string &who) {
        std::lock_guard<std::mutex> g(lock);
        auto it = owners.find(n);
        if (it != owners.end()) {
            if (problems.size() < 40)
                problems.push_back("answer " + std::to_string(n) + " seen by " + who + " and by " +
                                   it->second);
        } else {
            owners[n] = who;
        }
    }
    void Count(const std::string &fn) {
        std::lock_guard<std::mutex> g(lock);
        ++callsByExport[fn];
    }
};

class Concurrency : public E2ETest {
protected:
    std::string Own(int t) const { return Dir() + "/own-" + std::to_string(t) + ".bin"; }
    std::string OwnMedia(int t) const { return Dir() + "/media-" + std::to_string(t) + ".bin"; }
    std::string Shared() const { return Dir() + "/shared.bin"; }

    Call Make(const Mix &m, int t) const {
        Call c{m.fn, m.args};
        for (auto &a : c.args) {
            if (a == "$OWN") a = "$DIR/own-" + std::to_string(t) + ".bin";
            if (a == "$MEDIA_OWN") a = "$DIR/media-" + std::to_string(t) + ".bin";
        }
        return c;
    }

    void Mixed(int t, Tally &tally, std::atomic<int> &progress) {
        for (int i = 0; i < CallsPerThread(); ++i, ++progress) {
            const Mix &m = Exports()[static_cast<std::size_t>(t + i) % Exports().size()];
            const std::string who = "thread " + std::to_string(t) + " call " + std::to_string(i) + " " + m.fn;
            tally.Count(m.fn);
            if (std::string(m.fn) == "FaceBookTokenGraph") {
                const std::string location = Invoke(Make(m, t)).location;
                const int n = LocationNumber(location);
                if (n < 0) {
                    tally.Problem(who + ": Location " + Printable(location));
                } else {
                    tally.Claim(n, who);
                    std::lock_guard<std::mutex> g(tally.lock);
                    tally.signInNumbers.insert(n);
                }
                continue;
            }
            // Anything left from this thread's last call would pass for a fresh answer.
            if (!WriteFile(Own(t), "PENDING")) tally.Problem(who + ": cannot reset its file");
            const int code = Invoke(Make(m, t)).code;
            if (code != VFB_DONE) {
                tally.Problem(who + ": result " + std::to_string(code) + " (" +
                              vfb_result_meaning(code, nullptr) + ")");
                continue;
            }
            std::string bytes;
            ReadFile(Own(t), &bytes);
            const int n = Verify(bytes);
            if (n < 0) {
                tally.Problem(who + ": its file holds " + Printable(bytes, 120));
            } else {
                tally.Claim(n, who);
            }
        }
    }

    void SharedPosts(int t, Tally &tally, std::atomic<int> &progress) {
        static const char *const posts[] = {"FaceBookStatus", "FaceBookCheckIn", "FaceBookEvents",
                                            "FaceBookDelete"};
        for (int i = 0; i < CallsPerThread(); ++i, ++progress) {
            const char *fn = posts[(t + i) % 4];
            tally.Count(fn);
            const int code = Invoke({fn, {"m", "T", "100", "", "$DIR/shared.bin"}}).code;
            // A call that finds the file held by another stores nothing, but still ran to its end.
            if (code != VFB_DONE)
                tally.Problem("shared thread " + std::to_string(t) + " " + fn + ": result " +
                              std::to_string(code));
        }
    }

    void SignIns(int t, Tally &tally, std::atomic<int> &progress) {
        for (int i = 0; i < CallsPerThread(); ++i, ++progress) {
            tally.Count("FaceBookTokenGraph");
            const std::string location = Invoke({"FaceBookTokenGraph", {}}).location;
            const std::string who = "sign-in thread " + std::to_string(t) + " call " + std::to_string(i);
            const int n = LocationNumber(location);
            if (n < 0) {
                tally.Problem(who + ": Location " + Printable(location));
                continue;
            }
            tally.Claim(n, who);
            std::lock_guard<std::mutex> g(tally.lock);
            tally.signInNumbers.insert(n);
        }
    }
};

TEST_F(Concurrency, AllExportsAtOnce) {
    E2E_NEED_SERVICE();
    if (!DirExists("/temp4")) {
        ASSERT_TRUE(MakeDirs("/temp4"));
    }
    RemoveFile(kSignInBody);
    for (int t = 0; t < kMixedThreads; ++t) {
        ASSERT_TRUE(WriteFile(OwnMedia(t), RandomBytes(3000 + 97 * static_cast<std::size_t>(t), 77u + t)));
    }

    // One warm-up exchange: what the stack sets up once per process is not a leak.
    WriteScript({Response::Ok("warm")});
    ASSERT_EQ(Invoke({"FaceBookToken", {"https://graph.facebook.com/warm", "$DIR/warm.bin"}}).code, VFB_DONE);
    ResetRecording();

    std::vector<Response> script;
    for (int n = 0; n < TotalCalls(); ++n) {
        Response r = Response::Ok(Body(n));
        // Connections stay open, so calls from every thread take turns on
        // pooled ones; a connection lent to two at once would mix answers.
        r.WithHeader("Location", kLocationPrefix + std::to_string(n)).WithKeepAlive(5);
        script.push_back(r);
    }
    WriteScript(script);
    const int handlesBefore = CountOpenHandles();

    Tally tally;
    std::atomic<int> progress[kThreads];
    for (auto &p : progress) p = 0;
    std::mutex doneLock;
    std::condition_variable doneSignal;
    int finished = 0;
    std::vector<std::thread> threads;
    const auto start = std::chrono::steady_clock::now();
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            if (t < kMixedThreads)
                Mixed(t, tally, progress[t]);
            else if (t < kMixedThreads + kSharedThreads)
                SharedPosts(t - kMixedThreads, tally, progress[t]);
            else
                SignIns(t - kMixedThreads - kSharedThreads, tally, progress[t]);
            std::lock_guard<std::mutex> g(doneLock);
            ++finished;
            doneSignal.notify_all();
        });
    }
    {
        std::unique_lock<std::mutex> g(doneLock);
        if (!doneSignal.wait_for(g, kDeadline, [&] { return finished == kThreads; })) {
            std::string stuck;
            for (int t = 0; t < kThreads; ++t)
                if (progress[t] < CallsPerThread())
                    stuck += " " + std::to_string(t) + "@" + std::to_string(progress[t].load());
            std::fprintf(stderr, "DEADLOCK: %d of %d threads finished after %lld s; stuck (thread@call):%s\n",
                         finished, kThreads, static_cast<long long>(kDeadline.count()), stuck.c_str());
            std::fflush(stderr);
            std::_Exit(3);  // the stuck threads cannot be joined
        }
    }
    for (auto &th : threads) th.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf(
        "[ CONCURRENCY ] %d threads x %d calls = %d calls in %.1f s (%d mixed threads over all 12 exports, "
        "%d on one shared output file, %d sign-in threads)\n",
        kThreads, CallsPerThread(), TotalCalls(), seconds, kMixedThreads, kSharedThreads, kSignInThreads);
    for (const auto &e : tally.callsByExport)
        std::printf("[ CONCURRENCY ]   %-22s %d calls\n", e.first.c_str(), e.second);
    RecordProperty("threads", kThreads);
    RecordProperty("calls_per_thread", CallsPerThread());

    for (const auto &p : tally.problems) ADD_FAILURE() << p;
    EXPECT_TRUE(tally.problems.empty());

    // The shared files: each holds one complete answer that some call of its kind received.
    {
        std::string bytes;
        ASSERT_TRUE(ReadFile(Shared(), &bytes)) << "no form post stored its answer in the shared file";
        const int n = Verify(bytes);
        EXPECT_GE(n, 0) << "the shared file is not one complete answer: " << Printable(bytes, 200);
        EXPECT_EQ(tally.owners.count(n), 0u)
            << "the shared file holds an answer that " << tally.owners[n] << " got";
    }
    {
        std::string bytes;
        ASSERT_TRUE(ReadFile(kSignInBody, &bytes)) << kSignInBody << " was not written";
        const int n = Verify(bytes);
        EXPECT_GE(n, 0) << kSignInBody << " is not one complete answer: " << Printable(bytes, 200);
        EXPECT_EQ(tally.signInNumbers.count(n), 1u)
            << kSignInBody << " holds answer " << n << ", which no sign-in returned";
    }

    // One whole request per call: no retry, nothing lost; and pooled
    // connections served more than one call each.
    EXPECT_LT(ConnectionCount(), TotalCalls());
    auto requests = WaitForRequests(TotalCalls(), 10000);
    EXPECT_EQ(static_cast<int>(requests.size()), TotalCalls());
    int incomplete = 0;
    for (const auto &r : requests)
        if (!r.complete) ++incomplete;
    EXPECT_EQ(incomplete, 0) << "requests whose declared body did not arrive whole";

    ExpectHandlesBackTo(handlesBefore, kThreads);
}

}  // namespace
}  // namespace e2e
