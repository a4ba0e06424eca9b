#include "platform/posix/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "fake_platform.h"

namespace vfb {
namespace {

using testing::W;

class PosixFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vfb-files-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::unique_ptr<File> Open(const std::string &name, FileMode mode) {
        return files.Open(W(dir + "/" + name).c_str(), mode);
    }
    std::string Contents(const std::string &name) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Put(const std::string &name, const std::string &bytes) {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
    }

    std::string dir;
    PosixFileSystem files;
};

TEST_F(PosixFiles, AFileHeldExclusivelyIsNeitherOpenedNorTruncated) {
    Put("out", "first answer");
    auto holder = Open("out", FileMode::kCreateExclusive);
    ASSERT_TRUE(holder);
    holder->Write("held", 4);
    EXPECT_FALSE(Open("out", FileMode::kCreateExclusive));
    EXPECT_FALSE(Open("out", FileMode::kCreateShared));
    EXPECT_FALSE(Open("out", FileMode::kOpenForReading));
    holder.reset();
    EXPECT_EQ(Contents("out"), "held");
}

// The sign-in's fixed path lies in a folder others may write.
TEST_F(PosixFiles, TheNoFollowModeNeverWritesThroughALink) {
    Put("target", "precious");
    ASSERT_EQ(::symlink((dir + "/target").c_str(), (dir + "/link").c_str()), 0);
    EXPECT_FALSE(Open("link", FileMode::kCreateExclusiveNoFollow));
    EXPECT_EQ(Contents("target"), "precious");
    auto plain = Open("plain", FileMode::kCreateExclusiveNoFollow);
    ASSERT_TRUE(plain);
    EXPECT_TRUE(plain->Write("x", 1));
}

TEST_F(PosixFiles, SharedOpensShareWithEachOtherOnly) {
    auto a = Open("f", FileMode::kCreateShared);
    auto b = Open("f", FileMode::kCreateShared);
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_FALSE(Open("f", FileMode::kCreateExclusive));
}

TEST_F(PosixFiles, CreatingReplacesTheWholeFile) {
    Put("out", std::string(10000, 'o'));
    auto f = Open("out", FileMode::kCreateExclusive);
    ASSERT_TRUE(f);
    f->Write("new", 3);
    f.reset();
    EXPECT_EQ(Contents("out"), "new");
}

TEST_F(PosixFiles, BufferedWritesKeepEveryByteInOrder) {
    std::string expected;
    {
        auto f = Open("big", FileMode::kCreateShared);
        ASSERT_TRUE(f);
        unsigned seed = 1;
        // Small chunks, a chunk larger than the internal buffer, and empty ones.
        for (std::uint32_t size : {512u, 0u, 100u, 70000u, 1u, 65536u, 4095u, 512u}) {
            std::string chunk(size, '\0');
            for (char &c : chunk) c = static_cast<char>(seed = seed * 1103515245 + 12345);
            ASSERT_TRUE(f->Write(chunk.data(), size));
            expected += chunk;
        }
    }
    EXPECT_EQ(Contents("big"), expected);
}

TEST_F(PosixFiles, ReadingNeedsAnExistingRegularFile) {
    EXPECT_FALSE(Open("missing", FileMode::kOpenForReading));
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0700), 0);
    EXPECT_FALSE(Open("sub", FileMode::kOpenForReading));
    EXPECT_FALSE(Open("sub", FileMode::kCreateExclusive));
    EXPECT_FALSE(Open("nofolder/x", FileMode::kCreateExclusive));
    EXPECT_FALSE(files.Open(nullptr, FileMode::kCreateExclusive));
    EXPECT_FALSE(files.Open(W("").c_str(), FileMode::kCreateExclusive));

    Put("media", std::string(3000, 'm'));
    auto f = Open("media", FileMode::kOpenForReading);
    ASSERT_TRUE(f);
    std::uint32_t size = 0;
    ASSERT_TRUE(f->Size32(&size));
    EXPECT_EQ(size, 3000u);
    char buf[1024];
    std::uint32_t read = 0, total = 0;
    do {
        ASSERT_TRUE(f->Read(buf, sizeof buf, &read));
        total += read;
    } while (read == sizeof buf);
    EXPECT_EQ(total, 3000u);
    // Readers share with readers, not with a writer.
    EXPECT_TRUE(Open("media", FileMode::kOpenForReading));
    EXPECT_FALSE(Open("media", FileMode::kCreateExclusive));
    EXPECT_EQ(Contents("media"), std::string(3000, 'm'));
}

TEST_F(PosixFiles, NoDescriptorOutlivesItsFile) {
    auto count = [] {
        int n = 0;
        for (int fd = 0; fd < 1024; ++fd) n += fcntl(fd, F_GETFD) != -1;
        return n;
    };
    const int before = count();
    for (int i = 0; i < 50; ++i) {
        auto f = Open("x", FileMode::kCreateExclusive);
        auto g = Open("x", FileMode::kCreateExclusive);  // refused while held
        EXPECT_FALSE(g);
    }
    EXPECT_EQ(count(), before);
}

}  // namespace
}  // namespace vfb
