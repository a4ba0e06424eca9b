#include "answer.h"

#include <cstring>

#include "utf.h"

namespace vfbtool {

namespace {

// Real answers nest a few levels; anything much deeper is not an answer, and
// the limit keeps the recursion's stack small.
constexpr int kMaxDepth = 128;

class Reader {
public:
    explicit Reader(const std::function<std::size_t(char *, std::size_t)> &read) : read_(read) {}

    // The next byte, or -1 at the end of the input.
    int Peek() {
        if (at_ == end_ && !Refill()) return -1;
        return static_cast<unsigned char>(buffer_[at_]);
    }
    int Get() {
        const int c = Peek();
        if (c >= 0) ++at_;
        return c;
    }
    bool Take(char c) {
        if (Peek() != static_cast<unsigned char>(c)) return false;
        ++at_;
        return true;
    }
    void SkipSpace() {
        for (int c = Peek(); c == ' ' || c == '\t' || c == '\n' || c == '\r'; c = Peek()) ++at_;
    }

private:
    bool Refill() {
        if (done_) return false;
        at_ = 0;
        end_ = read_(buffer_, sizeof buffer_);
        if (end_ > sizeof buffer_) end_ = 0;  // a reader that lies is at its end
        done_ = end_ == 0;
        return !done_;
    }

    const std::function<std::size_t(char *, std::size_t)> &read_;
    char buffer_[64 * 1024];
    std::size_t at_ = 0, end_ = 0;
    bool done_ = false;
};

// Appends to a text no longer than kMaxText; what does not fit is dropped.
void Keep(std::string *out, std::string_view bytes) {
    if (!out || out->size() >= kMaxText) return;
    out->append(bytes.substr(0, kMaxText - out->size()));
}

int HexDigit(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Parser {
public:
    explicit Parser(Reader &in) : in_(in) {}

    std::optional<ServiceError> Document() {
        // A byte order mark is not JSON, but editors and some servers add one.
        if (in_.Take('\xEF') && !(in_.Take('\xBB') && in_.Take('\xBF'))) return std::nullopt;
        in_.SkipSpace();
        if (in_.Peek() != '{' || !Object(1, true)) return std::nullopt;
        in_.SkipSpace();
        if (in_.Peek() != -1) return std::nullopt;
        return found_;
    }

private:
    // `top` marks the document's own object, the only one whose "error"
    // member counts; `error` receives the members of the error object.
    bool Object(int depth, bool top, ServiceError *error = nullptr) {
        if (depth > kMaxDepth || !in_.Take('{')) return false;
        in_.SkipSpace();
        if (in_.Take('}')) return true;
        for (;;) {
            std::string key;
            in_.SkipSpace();
            // Keys longer than any of interest are cut, which cannot make
            // them equal to one.
            if (!String(&key, 16)) return false;
            in_.SkipSpace();
            if (!in_.Take(':')) return false;
            in_.SkipSpace();
            bool ok;
            if (top && key == "error") {
                // The last "error" member wins, as in most JSON readers.
                found_.reset();
                if (in_.Peek() == '{') {
                    ServiceError e;
                    ok = Object(depth + 1, false, &e);
                    if (ok) found_ = std::move(e);
                } else {
                    ok = Value(depth + 1);
                }
            } else if (error && key == "message") {
                ok = TextMember(depth, &error->message);
            } else if (error && key == "type") {
                ok = TextMember(depth, &error->type);
            } else if (error && key == "code") {
                error->code.reset();
                error->code_is_number = false;
                if (in_.Peek() == '"') {
                    error->code.emplace();
                    ok = String(&*error->code, kMaxText);
                } else if (in_.Peek() == '-' || (in_.Peek() >= '0' && in_.Peek() <= '9')) {
                    error->code.emplace();
                    error->code_is_number = true;
                    ok = Number(&*error->code);
                } else {
                    ok = Value(depth + 1);
                }
            } else {
                ok = Value(depth + 1);
            }
            if (!ok) return false;
            in_.SkipSpace();
            if (in_.Take('}')) return true;
            if (!in_.Take(',')) return false;
        }
    }

    bool TextMember(int depth, std::optional<std::string> *text) {
        text->reset();
        if (in_.Peek() != '"') return Value(depth + 1);
        text->emplace();
        return String(&**text, kMaxText);
    }

    bool Array(int depth) {
        if (depth > kMaxDepth || !in_.Take('[')) return false;
        in_.SkipSpace();
        if (in_.Take(']')) return true;
        for (;;) {
            in_.SkipSpace();
            if (!Value(depth + 1)) return false;
            in_.SkipSpace();
            if (in_.Take(']')) return true;
            if (!in_.Take(',')) return false;
        }
    }

    bool Value(int depth) {
        switch (in_.Peek()) {
            case '{':
                return Object(depth, false);
            case '[':
                return Array(depth);
            case '"':
                return String(nullptr, 0);
            case 't':
                return Word("true");
            case 'f':
                return Word("false");
            case 'n':
                return Word("null");
            default:
                return Number(nullptr);
        }
    }

    bool Word(const char *word) {
        for (const char *p = word; *p; ++p)
            if (!in_.Take(*p)) return false;
        return true;
    }

    // RFC 8259's number; `text` receives it (cut at kMaxText).
    bool Number(std::string *text) {
        auto digits = [&](bool at_least_one) {
            bool any = false;
            while (in_.Peek() >= '0' && in_.Peek() <= '9') {
                const char c = static_cast<char>(in_.Get());
                Keep(text, {&c, 1});
                any = true;
            }
            return any || !at_least_one;
        };
        auto take = [&](char c) {
            if (!in_.Take(c)) return false;
            Keep(text, {&c, 1});
            return true;
        };
        take('-');
        if (!take('0') && !(in_.Peek() >= '1' && in_.Peek() <= '9' && digits(true))) return false;
        if (take('.') && !digits(true)) return false;
        if (take('e') || take('E')) {
            if (!take('+')) take('-');
            if (!digits(true)) return false;
        }
        return true;
    }

    // A JSON string, decoded into `text` up to `limit` bytes when `text` is
    // given. Raw bytes pass as they are, UTF-8 or not; whoever shows the text
    // makes it valid. An escaped surrogate without its other half becomes
    // U+FFFD.
    bool String(std::string *text, std::size_t limit) {
        if (!in_.Take('"')) return false;
        auto keep = [&](std::string_view bytes) {
            if (text && text->size() < limit) text->append(bytes.substr(0, limit - text->size()));
        };
        auto keep_code_point = [&](char32_t cp) {
            std::string utf8;
            AppendUtf8(utf8, cp);
            keep(utf8);
        };
        char32_t high = 0;  // a first half waiting for its second
        for (;;) {
            const int c = in_.Get();
            if (c < 0x20) return false;  // the end of the input, or a raw control character
            const bool unit_escape = c == '\\' && in_.Peek() == 'u';
            if (high && !unit_escape) {
                keep_code_point(0xFFFD);
                high = 0;
            }
            if (c == '"') return true;
            if (c != '\\') {
                const char byte = static_cast<char>(c);
                keep({&byte, 1});
                continue;
            }
            static const char kFrom[] = "\"\\/bfnrtu";
            static const char kTo[] = "\"\\/\b\f\n\r\t";
            const int e = in_.Get();
            const char *at = e > 0 ? std::strchr(kFrom, e) : nullptr;
            if (!at) return false;
            if (e != 'u') {
                keep({&kTo[at - kFrom], 1});
                continue;
            }
            const int unit = Hex4();
            if (unit < 0) return false;
            const char32_t u = static_cast<char32_t>(unit);
            if (high && u >= 0xDC00 && u <= 0xDFFF) {
                keep_code_point(0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
                high = 0;
                continue;
            }
            if (high) keep_code_point(0xFFFD);
            high = 0;
            if (u >= 0xD800 && u <= 0xDBFF)
                high = u;
            else
                keep_code_point(u >= 0xDC00 && u <= 0xDFFF ? 0xFFFD : u);
        }
    }

    int Hex4() {
        int value = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = HexDigit(in_.Get());
            if (d < 0) return -1;
            value = value * 16 + d;
        }
        return value;
    }

    Reader &in_;
    std::optional<ServiceError> found_;
};

}  // namespace

Refusal Classify(const ServiceError &error) {
    long long code = -1;
    if (error.code && !error.code->empty() && error.code->size() < 10 &&
        error.code->find_first_not_of("0123456789") == std::string::npos)
        code = std::stoll(*error.code);
    // The code alone decides: the service gives the type OAuthException to
    // rate limits and invalid parameters as much as to a rejected token.
    if (code == 190 || code == 102) return Refusal::kTokenRejected;
    if (code == 4 || code == 17 || code == 32 || code == 613) return Refusal::kRateLimited;
    return Refusal::kOther;
}

std::optional<ServiceError> FindServiceError(const std::function<std::size_t(char *, std::size_t)> &read) {
    Reader reader(read);
    return Parser(reader).Document();
}

std::optional<ServiceError> FindServiceError(std::string_view text) {
    return FindServiceError([&text](char *buffer, std::size_t size) {
        const std::size_t n = std::min(size, text.size());
        std::memcpy(buffer, text.data(), n);
        text.remove_prefix(n);
        return n;
    });
}

std::optional<ServiceError> FindServiceErrorInFile(std::FILE *file) {
    return FindServiceError(
        [file](char *buffer, std::size_t size) { return std::fread(buffer, 1, size, file); });
}

}  // namespace vfbtool
