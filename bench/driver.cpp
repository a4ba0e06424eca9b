// Runs library calls for bench/inner.sh and fails loudly when one does not
// end in VFB_DONE, so that a broken exchange can never pass for a fast one.
//
//   driver token URL OUT               FaceBookToken
//   driver photo MEDIA OUT             FaceBookPictureUpload to "me"
//   driver video MEDIA OUT             FaceBookVideoUpload to "me"
//   driver status COUNT OUT            COUNT x FaceBookStatus to "me"
//   driver both URL MEDIA OUT1 OUT2    FaceBookToken, then FaceBookPictureUpload
#include <vantrelfb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The arguments are ASCII paths and URLs; anything else would be a misuse of
// this driver, so it is refused rather than converted.
std::u16string Wide(const char *text) {
    std::u16string out;
    for (const char *p = text; *p; ++p) {
        if (static_cast<unsigned char>(*p) >= 0x80) {
            std::fprintf(stderr, "driver: non-ASCII argument: %s\n", text);
            std::exit(2);
        }
        out.push_back(static_cast<char16_t>(*p));
    }
    return out;
}

int Check(const char *what, int code) {
    if (code == VFB_DONE) return 0;
    std::fprintf(stderr, "driver: %s returned %d (%s)\n", what, code, vfb_result_meaning(code, nullptr));
    return 1;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: driver token URL OUT | photo MEDIA OUT | video MEDIA OUT |\n"
                 "              status COUNT OUT | both URL MEDIA OUT1 OUT2\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return Usage();
    const std::string mode = argv[1];
    const std::u16string me = u"me", token = u"x", message = u"bench";

    if (mode == "token" && argc == 4) {
        return Check("FaceBookToken", FaceBookToken(Wide(argv[2]).c_str(), Wide(argv[3]).c_str()));
    }
    if (mode == "photo" && argc == 4) {
        return Check("FaceBookPictureUpload",
                     FaceBookPictureUpload(Wide(argv[2]).c_str(), me.c_str(), message.c_str(), token.c_str(),
                                           Wide(argv[3]).c_str()));
    }
    if (mode == "video" && argc == 4) {
        return Check("FaceBookVideoUpload",
                     FaceBookVideoUpload(Wide(argv[2]).c_str(), me.c_str(), message.c_str(), token.c_str(),
                                         Wide(argv[3]).c_str()));
    }
    if (mode == "status" && argc == 4) {
        const long count = std::strtol(argv[2], nullptr, 10);
        if (count <= 0) return Usage();
        const std::u16string out = Wide(argv[3]);
        const std::u16string empty;
        for (long i = 0; i < count; ++i) {
            if (Check("FaceBookStatus",
                      FaceBookStatus(message.c_str(), token.c_str(), me.c_str(), empty.c_str(), out.c_str())))
                return 1;
        }
        return 0;
    }
    if (mode == "both" && argc == 6) {
        if (Check("FaceBookToken", FaceBookToken(Wide(argv[2]).c_str(), Wide(argv[4]).c_str()))) return 1;
        return Check("FaceBookPictureUpload",
                     FaceBookPictureUpload(Wide(argv[3]).c_str(), me.c_str(), message.c_str(), token.c_str(),
                                           Wide(argv[5]).c_str()));
    }
    return Usage();
}
