// The tool's command-line contract, observed through a recording fake of the
// library: what reaches which export, in which order, and what the user sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "answer.h"
#include "fake_library.h"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/stat.h>
#endif

namespace vfbtool::fake {
namespace {

using Args = std::vector<std::string>;

int CountLines(const std::string &s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

bool Contains(const std::string &haystack, const std::string &needle) {
    return haystack.find(needle) != std::string::npos;
}

// A file of the test's own, removed first.
std::string TestFile(const std::string &name, const std::optional<std::string> &content = std::nullopt) {
    const std::string path = ::testing::TempDir() + "vantrelfb_tool_" + name;
    std::filesystem::remove(path);
    if (content) std::ofstream(path, std::ios::binary) << *content;
    return path;
}

// Words of an example command line: blanks split, double quotes group.
std::vector<std::string> ShellWords(const std::string &line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) words.push_back(word);
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any) words.push_back(word);
    return words;
}

// The one line after a help's last "Example:", without its indent.
std::string ExampleOf(const std::string &help) {
    const std::string marker = "\nExample:\n  ";
    const std::size_t at = help.rfind(marker);
    if (at == std::string::npos || help.back() != '\n') return {};
    const std::string example = help.substr(at + marker.size(), help.size() - at - marker.size() - 1);
    return Contains(example, "\n") ? std::string() : example;
}

// Every export of the header's ordinal table has exactly one command.
TEST(CommandTable, CoversTheTwelveExports) {
    std::multiset<std::string> commands, header;
    for (int c = 0; c <= static_cast<int>(Command::kSignIn); ++c)
        commands.insert(ExportName(static_cast<Command>(c)));
    for (int ordinal = 1; ordinal <= 12; ++ordinal) header.insert(vfb_export_name(ordinal));
    EXPECT_EQ(commands, header);
}

// ---------------------------------------------------------------------------
// Command lines that must be refused before anything is sent.

struct UsageCase {
    const char *label;
    Args args;
    const char *env_token;
    std::vector<std::string> mentions;  // the message must point at these
};

std::ostream &operator<<(std::ostream &os, const UsageCase &c) { return os << c.label; }

class UsageError : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageError, ExitsWithTheUsageStatusAndNeverCallsTheLibrary) {
    const UsageCase &c = GetParam();
    FakeLibrary fake;
    const RunResult r = RunTool(fake, c.args, c.env_token);
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_TRUE(fake.Recorded().empty()) << "the library was called: " << fake.Recorded().front().export_name;
    EXPECT_TRUE(r.out.empty()) << r.out;
    for (const std::string &m : c.mentions)
        EXPECT_TRUE(Contains(r.err, m)) << "missing '" << m << "' in:\n" << r.err;
}

const Args kStatusNoToken = {"status", "--message", "m", "--target", "t", "--out", "o"};

Args With(Args base, std::initializer_list<std::string> more) {
    base.insert(base.end(), more);
    return base;
}

INSTANTIATE_TEST_SUITE_P(
    Refused, UsageError,
    ::testing::Values(
        UsageCase{"nothing", {}, nullptr, {"no subcommand"}},
        UsageCase{"unknown subcommand", {"post", "--message", "m"}, nullptr, {"'post'"}},
        UsageCase{"note without action", {"note"}, nullptr, {"create", "edit", "view", "delete"}},
        UsageCase{
            "unknown note action", {"note", "publish"}, nullptr, {"'publish'", "vantrelfb note --help"}},
        UsageCase{"option before the subcommand", {"--token", "k", "status"}, nullptr, {"'--token'"}},
        UsageCase{"every required option missing",
                  {"status"},
                  nullptr,
                  {"--message", "--token", "--target", "--out", "vantrelfb status --help"}},
        UsageCase{"output file missing", {"fetch", "--url", "https://h/x"}, nullptr, {"--out"}},
        UsageCase{
            "no token anywhere", kStatusNoToken, nullptr, {"--token", "--token-file", "VANTRELFB_TOKEN"}},
        UsageCase{"empty token variable counts as unset", kStatusNoToken, "", {"--token"}},
        UsageCase{"token variable not UTF-8", kStatusNoToken, "ab\xC3", {"VANTRELFB_TOKEN", "UTF-8"}},
        UsageCase{
            "invalid byte", {"fetch", "--url", "https://h/\xFF", "--out", "o"}, nullptr, {"--url", "UTF-8"}},
        UsageCase{"overlong encoding",
                  With(kStatusNoToken, {"--token", "k", "--extra", "\xC0\xAF"}),
                  nullptr,
                  {"--extra", "UTF-8"}},
        UsageCase{"encoded surrogate",
                  {"note", "create", "--title", "t", "--token", "k", "--uid", "u", "--content",
                   "\xED\xA0\x80", "--out", "o"},
                  nullptr,
                  {"--content", "UTF-8", "vantrelfb note create --help"}},
        UsageCase{"truncated sequence",
                  {"event", "--name", "caf\xC3", "--token", "k", "--target", "t", "--out", "o"},
                  nullptr,
                  {"--name", "UTF-8"}},
        UsageCase{"invalid byte in a path",
                  {"fetch", "--url", "u", "--out", "r\xE9sultat.json"},
                  nullptr,
                  {"--out", "UTF-8"}},
        UsageCase{"unknown option", {"fetch", "--url", "u", "--out", "o", "--debug"}, nullptr, {"'--debug'"}},
        UsageCase{"connection time-out of zero",
                  {"fetch", "--url", "u", "--out", "o", "--connect-timeout", "0"},
                  nullptr,
                  {"--connect-timeout", "'0'"}},
        UsageCase{"stall time-out with a unit",
                  {"fetch", "--url", "u", "--out", "o", "--stall-timeout=5s"},
                  nullptr,
                  {"--stall-timeout", "'5s'"}},
        UsageCase{"time-out beyond the library's range",
                  {"signin", "--connect-timeout", "4294968"},
                  nullptr,
                  {"--connect-timeout", "4294967"}},
        UsageCase{"time-out without its value",
                  {"fetch", "--url", "u", "--out", "o", "--stall-timeout"},
                  nullptr,
                  {"--stall-timeout", "value"}},
        UsageCase{"verbose and quiet", {"signin", "-v", "--quiet"}, nullptr, {"--verbose", "--quiet"}},
        UsageCase{"short options run together", {"signin", "-vq"}, nullptr, {"'-vq'"}},
        UsageCase{"quiet twice", {"signin", "-q", "--quiet"}, nullptr, {"--quiet", "more than once"}},
        UsageCase{"option of another subcommand",
                  {"fetch", "--url", "u", "--out", "o", "--token", "k"},
                  nullptr,
                  {"--token", "fetch"}},
        UsageCase{"uid given to note view",
                  {"note", "view", "--token", "k", "--owner", "w", "--note", "n", "--out", "o", "--uid", "u"},
                  nullptr,
                  {"--uid", "note view"}},
        UsageCase{"signin takes no options", {"signin", "--out", "o"}, nullptr, {"--out", "signin"}},
        UsageCase{"stray word", {"fetch", "--url", "u", "--out", "o", "now"}, nullptr, {"'now'"}},
        UsageCase{"value missing at the end", {"fetch", "--url", "u", "--out"}, nullptr, {"--out", "value"}},
        UsageCase{
            "option where a value belongs", {"fetch", "--url", "--out", "o"}, nullptr, {"--url", "value"}},
        UsageCase{"option repeated",
                  {"fetch", "--url", "u", "--url", "v", "--out", "o"},
                  nullptr,
                  {"--url", "more than once"}},
        UsageCase{"empty output path", {"fetch", "--url", "u", "--out="}, nullptr, {"--out"}},
        UsageCase{"empty media path",
                  {"photo", "--media", "", "--target", "t", "--token", "k", "--out", "o"},
                  nullptr,
                  {"--media"}},
        UsageCase{"short option", {"fetch", "-u", "x"}, nullptr, {"'-u'"}},
        UsageCase{"help for an unknown subcommand", {"help", "bogus"}, nullptr, {"'bogus'"}},
        UsageCase{"help with too many words", {"help", "status", "now"}, nullptr, {"help"}},
        UsageCase{"json and the answer both on standard output",
                  {"fetch", "--url", "u", "--out", "-", "--json"},
                  nullptr,
                  {"--json", "--out -"}},
        UsageCase{"a switch given a value",
                  {"fetch", "--url", "u", "--out", "o", "--json=yes"},
                  nullptr,
                  {"--json"}},
        UsageCase{"no progress meter to turn off",
                  With(kStatusNoToken, {"--token", "k", "--no-progress"}),
                  nullptr,
                  {"--no-progress", "status"}},
        UsageCase{"token by option and by file",
                  With(kStatusNoToken, {"--token", "k", "--token-file", "f"}),
                  nullptr,
                  {"--token-file", "more than once"}},
        UsageCase{"token file and token from standard input",
                  With(kStatusNoToken, {"--token-file", "f", "--token", "-"}),
                  nullptr,
                  {"--token", "more than once"}},
        UsageCase{"token file for a call without a token",
                  {"fetch", "--url", "u", "--out", "o", "--token-file", "f"},
                  nullptr,
                  {"--token-file", "fetch"}},
        UsageCase{
            "empty token file path", With(kStatusNoToken, {"--token-file="}), nullptr, {"--token-file"}},
        UsageCase{
            "completion for no shell", {"completion"}, nullptr, {"bash", "vantrelfb completion --help"}},
        UsageCase{"completion for another shell",
                  {"completion", "tcsh"},
                  nullptr,
                  {"'tcsh'", "bash", "zsh", "fish"}}),
    [](const ::testing::TestParamInfo<UsageCase> &info) {
        std::string name;
        for (char c : std::string(info.param.label))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(UsageErrorText, ShowsControlAndBrokenBytesEscaped) {
    FakeLibrary fake;
    const RunResult r = RunTool(fake, {"po\x1b[2Jst\xFF"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_FALSE(Contains(r.err, "\x1b")) << r.err;
    EXPECT_FALSE(Contains(r.err, "\xFF")) << r.err;
    EXPECT_TRUE(Contains(r.err, "\\x1b")) << r.err;
    EXPECT_TRUE(Contains(r.err, "\\xff")) << r.err;
}

// ---------------------------------------------------------------------------
// Every option reaches its parameter. The expected lists follow the argument
// order in vantrelfb.h; the command lines deliberately give the options in
// another order.

struct CallCase {
    const char *label;
    Args args;
    std::string export_name;
    std::vector<std::u16string> expected;
};

std::ostream &operator<<(std::ostream &os, const CallCase &c) { return os << c.label; }

const std::vector<CallCase> &AllCalls() {
    static const std::vector<CallCase> cases = {
        {"fetch",
         {"fetch", "--out", "body.txt", "--url", "https://graph.example/me"},
         "FaceBookToken",
         {u"https://graph.example/me", u"body.txt"}},
        {"status",
         {"status", "--out", "O", "--extra", "X", "--target", "T", "--token", "K", "--message", "M"},
         "FaceBookStatus",
         {u"M", u"K", u"T", u"X", u"O"}},
        {"checkin",
         {"checkin", "--extra", "X", "--token", "K", "--out", "O", "--message", "M", "--target", "T"},
         "FaceBookCheckIn",
         {u"M", u"K", u"T", u"X", u"O"}},
        {"event",
         {"event", "--target", "T", "--name", "N", "--out", "O", "--token", "K", "--extra", "X"},
         "FaceBookEvents",
         {u"N", u"K", u"T", u"X", u"O"}},
        {"delete",
         {"delete", "--extra2", "Y", "--object", "B", "--out", "O", "--extra", "X", "--token", "K"},
         "FaceBookDelete",
         {u"X", u"K", u"B", u"Y", u"O"}},
        {"note_create",
         {"note", "create", "--content", "C", "--uid", "U", "--title", "Ti", "--token", "K", "--out", "O"},
         "FaceBookNotes",
         {u"Ti", u"K", u"U", u"C", u"O"}},
        {"note_edit",
         {"note", "edit", "--uid", "U", "--content", "C", "--note", "N", "--token", "K", "--title", "Ti",
          "--out", "O"},
         "FaceBookNotesEdit",
         {u"Ti", u"K", u"N", u"C", u"U", u"O"}},
        {"note_view",
         {"note", "view", "--note", "N", "--owner", "W", "--out", "O", "--token", "K"},
         "FaceBookNotesView",
         {u"K", u"W", u"N", u"O"}},
        {"note_delete",
         {"note", "delete", "--uid", "U", "--note", "N", "--token", "K", "--out", "O"},
         "FaceBookNotesDelete",
         {u"K", u"N", u"U", u"O"}},
        {"photo",
         {"photo", "--token", "K", "--message", "M", "--out", "O", "--target", "T", "--media", "P.jpg"},
         "FaceBookPictureUpload",
         {u"P.jpg", u"T", u"M", u"K", u"O"}},
        {"video",
         {"video", "--title", "Ti", "--token", "K", "--media", "V.mp4", "--out", "O", "--target", "T"},
         "FaceBookVideoUpload",
         {u"V.mp4", u"T", u"Ti", u"K", u"O"}},
    };
    return cases;
}

// The words naming the subcommand at the start of a case's command line.
Args CommandWords(const Args &args) { return args[0] == "note" ? Args{args[0], args[1]} : Args{args[0]}; }

class EachExport : public ::testing::TestWithParam<CallCase> {};

TEST_P(EachExport, ReceivesEveryOptionAsItsParameterExactlyOnce) {
    const CallCase &c = GetParam();
    FakeLibrary fake;
    const RunResult r = RunTool(fake, c.args, "ENV-TOKEN-NOT-WANTED");
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(fake.Recorded().size(), 1u);
    EXPECT_EQ(fake.Recorded()[0].export_name, c.export_name);
    std::vector<WString> expected;
    for (const std::u16string &e : c.expected) expected.push_back(Wide(e));
    EXPECT_EQ(fake.Recorded()[0].args, expected);
}

TEST_P(EachExport, HelpNamesTheExportAndEveryOptionWithoutCallingIt) {
    const CallCase &c = GetParam();
    FakeLibrary fake;
    const RunResult help = RunTool(fake, With(CommandWords(c.args), {"--help"}));
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.err.empty());
    EXPECT_TRUE(Contains(help.out, c.export_name)) << help.out;
    for (const std::string &a : c.args) {
        if (a.rfind("--", 0) == 0) {
            EXPECT_TRUE(Contains(help.out, a)) << a << " not in:\n" << help.out;
        }
    }

    // The same text however it is asked for, even after valid options.
    Args help_word = {"help"};
    for (const std::string &w : CommandWords(c.args)) help_word.push_back(w);
    EXPECT_EQ(RunTool(fake, help_word).out, help.out);
    EXPECT_EQ(RunTool(fake, With(c.args, {"-h"})).out, help.out);
    EXPECT_TRUE(fake.Recorded().empty());

    std::string name;
    for (const std::string &w : CommandWords(c.args)) name += (name.empty() ? "" : " ") + w;
    EXPECT_TRUE(Contains(RunTool(fake, {"--help"}).out, "  " + name + " ")) << name;

    // The help ends with an example that is a valid command line for it.
    const std::vector<std::string> example = ShellWords(ExampleOf(help.out));
    ASSERT_GE(example.size(), 2u) << help.out;
    EXPECT_EQ(example[0], "vantrelfb");
    const ParseResult parsed = Parse(Args(example.begin() + 1, example.end()), nullptr);
    EXPECT_EQ(parsed.outcome, Outcome::kRun) << parsed.text;
    EXPECT_EQ(ExportName(parsed.invocation.command), c.export_name);

    // The completion script offers the command and each of its options.
    const std::string completion = RunTool(fake, {"completion", "bash"}).out;
    EXPECT_TRUE(Contains(completion, "'" + name + "') options='")) << name;
    for (const std::string &a : c.args) {
        if (a.rfind("--", 0) == 0) {
            EXPECT_TRUE(Contains(completion, a + " ")) << a;
        }
    }
}

TEST_P(EachExport, MeasuresOnlyTransfersAndOnlyWhatTheLibraryDid) {
    const CallCase &c = GetParam();
    const ParseResult parsed = Parse(c.args, nullptr);
    ASSERT_EQ(parsed.outcome, Outcome::kRun);
    const bool transfer = c.export_name == "FaceBookPictureUpload" ||
                          c.export_name == "FaceBookVideoUpload" || c.export_name == "FaceBookToken";
    EXPECT_EQ(IsTransfer(parsed.invocation.command), transfer);
    // What the library reports as it works: the request's body for an
    // upload, the answer with its declared length for the fetch; 2048 bytes
    // a second, 4096 of 300000 after two seconds.
    const bool upload = transfer && parsed.invocation.command != Command::kFetch;
    auto at = [upload](std::uint64_t ms, std::uint64_t bytes) {
        return upload ? ProgressStep{ms, bytes, 300000, 0, 0} : ProgressStep{ms, 200, 0, bytes, 300000};
    };
    FakeLibrary fake;
    fake.progress = {at(0, 0), at(1000, 2048), at(2000, 4096)};
    // On a terminal the call is made as anywhere else; --no-progress exists
    // where a meter does.
    const RunResult quiet = RunTool(fake, With(c.args, {"--no-progress"}), nullptr, std::nullopt, true);
    EXPECT_EQ(quiet.status, transfer ? 0 : kExitUsage) << quiet.err;
    const RunResult shown = RunTool(fake, c.args, nullptr, std::nullopt, true);
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(fake.Recorded().size(), transfer ? 2u : 1u);
    EXPECT_FALSE(Contains(quiet.err, "\r")) << quiet.err;
    EXPECT_FALSE(Contains(RunTool(fake, c.args).err, "\r"));  // not a terminal
    EXPECT_FALSE(Contains(RunTool(fake, With(c.args, {"-v"}), nullptr, std::nullopt, true).err, "\r"));
    EXPECT_EQ(Contains(shown.err, "\r"), transfer) << shown.err;
    if (transfer) {
        const std::string verb = upload ? " sent" : " received";
        for (const std::string &part :
             {"  1%   4096 of  292k" + verb, std::string(" 2048/s"), std::string(" 0:02:24 left")})
            EXPECT_TRUE(Contains(shown.err, part)) << part << " not in: " << shown.err;
        std::istringstream drawn(shown.err.substr(0, shown.err.find("vantrelfb: ")));
        for (std::string line; std::getline(drawn, line, '\r');) EXPECT_LE(line.size(), 79u) << line;
        // Nothing of the meter is left before the result line.
        EXPECT_TRUE(Contains(shown.err, " \rvantrelfb: " + c.export_name + " returned 999")) << shown.err;
    }
    // A call that ends within half a second shows nothing.
    fake.progress = {at(0, 0), at(400, 300000)};
    EXPECT_FALSE(Contains(RunTool(fake, c.args, nullptr, std::nullopt, true).err, "\r"));

    // Ctrl-C: the next progress report asks the library to stop, and the
    // tool says so with the shell's status for it.
    fake.progress = {at(0, 0), at(100, 1024), at(200, 2048)};
    fake.progress[1].interrupt = true;
    const RunResult interrupted = RunTool(fake, c.args, nullptr, std::nullopt, true);
    EXPECT_EQ(interrupted.status, kExitInterrupted) << interrupted.err;
    EXPECT_TRUE(fake.cancelled);
    EXPECT_EQ(fake.now_ms, 100u);
    EXPECT_TRUE(Contains(interrupted.err, "returned 4: "));
    EXPECT_TRUE(Contains(interrupted.err, "vantrelfb: interrupted: cancelled by the progress callback\n"))
        << interrupted.err;
#if !defined(_WIN32)
    struct sigaction now {};
    ASSERT_EQ(::sigaction(SIGINT, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL);  // as it was before the call
#endif
    EXPECT_FALSE(fake.progress_fn);
}

INSTANTIATE_TEST_SUITE_P(Exports, EachExport, ::testing::ValuesIn(AllCalls()),
                         [](const ::testing::TestParamInfo<CallCase> &info) { return info.param.label; });

TEST(Arguments, AbsentOptionalTextsArriveAsEmptyStringsNotNull) {
    FakeLibrary fake;
    ASSERT_EQ(RunTool(fake, {"delete", "--token", "K", "--object", "B", "--out", "O"}).status, 0);
    ASSERT_EQ(RunTool(fake, {"photo", "--media", "P", "--target", "T", "--token", "K", "--out", "O"}).status,
              0);
    ASSERT_EQ(RunTool(fake, {"video", "--media", "V", "--target", "T", "--token", "K", "--out", "O"}).status,
              0);
    ASSERT_EQ(fake.Recorded().size(), 3u);
    EXPECT_EQ(fake.Recorded()[0].args,
              (std::vector<WString>{Wide(u""), Wide(u"K"), Wide(u"B"), Wide(u""), Wide(u"O")}));
    EXPECT_EQ(fake.Recorded()[1].args[2], Wide(u""));
    EXPECT_EQ(fake.Recorded()[2].args[2], Wide(u""));
}

TEST(Arguments, Utf8TextsArriveAsUtf16IncludingSurrogatePairs) {
    FakeLibrary fake;
    const RunResult r = RunTool(fake, {"status", "--message",
                                       "Gr\xC3\xBC\xC3\x9F"
                                       "e \xE2\x82\xAC \xF0\x9F\x98\x80",
                                       "--token", "K", "--target", "T", "--out", "\xE6\x97\xA5.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(fake.Recorded().size(), 1u);
    EXPECT_EQ(fake.Recorded()[0].args[0], Wide(u"Gr\u00FC\u00DFe \u20AC \U0001F600"));
    EXPECT_EQ(fake.Recorded()[0].args[4], Wide(u"\u65E5.json"));
    // The report names the output file as the user typed it.
    EXPECT_TRUE(Contains(r.err, "\xE6\x97\xA5.json")) << r.err;
}

TEST(Arguments, EqualsFormCarriesValuesThatLookLikeOptions) {
    FakeLibrary fake;
    ASSERT_EQ(
        RunTool(fake, {"status", "--message=--not-an-option", "--token=a=b", "--target", "-", "--out=o"})
            .status,
        0);
    ASSERT_EQ(fake.Recorded().size(), 1u);
    EXPECT_EQ(fake.Recorded()[0].args[0], Wide(u"--not-an-option"));
    EXPECT_EQ(fake.Recorded()[0].args[1], Wide(u"a=b"));
    EXPECT_EQ(fake.Recorded()[0].args[2], Wide(u"-"));
}

TEST(Arguments, ExplicitlyEmptyTextIsPassedOn) {
    FakeLibrary fake;
    ASSERT_EQ(
        RunTool(fake, {"status", "--message", "", "--token", "K", "--target", "T", "--out", "O"}).status, 0);
    ASSERT_EQ(fake.Recorded().size(), 1u);
    EXPECT_EQ(fake.Recorded()[0].args[0], Wide(u""));
}

// ---------------------------------------------------------------------------
// VANTRELFB_TOKEN

TEST(EnvironmentToken, StandsInForAMissingTokenOption) {
    FakeLibrary fake;
    ASSERT_EQ(RunTool(fake, kStatusNoToken, "EAAB\xC3\xA9").status, 0);
    ASSERT_EQ(RunTool(fake, {"note", "view", "--owner", "W", "--note", "N", "--out", "O"}, "ENV").status, 0);
    ASSERT_EQ(fake.Recorded().size(), 2u);
    EXPECT_EQ(fake.Recorded()[0].args[1], Wide(u"EAAB\u00E9"));
    EXPECT_EQ(fake.Recorded()[1].args[0], Wide(u"ENV"));
}

TEST(EnvironmentToken, TheOptionWinsEvenOverAnUnusableVariable) {
    FakeLibrary fake;
    ASSERT_EQ(RunTool(fake, With(kStatusNoToken, {"--token", "OPT"}), "ENV").status, 0);
    ASSERT_EQ(RunTool(fake, With(kStatusNoToken, {"--token", "OPT"}), "\xFF").status, 0);
    ASSERT_EQ(fake.Recorded().size(), 2u);
    EXPECT_EQ(fake.Recorded()[0].args[1], Wide(u"OPT"));
    EXPECT_EQ(fake.Recorded()[1].args[1], Wide(u"OPT"));
}

// The token's other sources, read only when the call is made: one line, its
// line end dropped, and the library is not called when there is none.
struct TokenSourceCase {
    const char *label;
    Args options;                     // added to a status command line without a token
    std::optional<std::string> file;  // content of the file that "FILE" names; absent: no file
    std::optional<std::string> input;
    std::string token;  // what reaches the library; empty: nothing does
    const char *env = "ENV-TOKEN-NOT-WANTED";
};

TEST(EnvironmentToken, GivesWayToATokenFileOrStandardInput) {
    const TokenSourceCase cases[] = {
        {"file", {"--token-file", "FILE"}, "EAAB-file\n", std::nullopt, "EAAB-file"},
        {"file without a line end", {"--token-file=FILE"}, "EAAB-file", std::nullopt, "EAAB-file"},
        {"file with a CRLF line end", {"--token-file", "FILE"}, "EAAB-crlf\r\n", std::nullopt, "EAAB-crlf"},
        {"standard input", {"--token", "-"}, std::nullopt, "EAAB-stdin\n", "EAAB-stdin"},
        {"UTF-8 on standard input", {"--token=-"}, std::nullopt, "t\xC3\xA9\n", "t\xC3\xA9"},
        {"no file", {"--token-file", "FILE"}, std::nullopt, std::nullopt, ""},
        {"empty file", {"--token-file", "FILE"}, "\n", std::nullopt, ""},
        {"two lines", {"--token-file", "FILE"}, "a\nb\n", std::nullopt, ""},
        {"not UTF-8", {"--token-file", "FILE"}, "\xFF\n", std::nullopt, ""},
        {"far too long", {"--token-file", "FILE"}, std::string(1 << 20, 'k'), std::nullopt, ""},
        {"empty standard input", {"--token", "-"}, std::nullopt, "", ""},
        {"no standard input", {"--token", "-"}, std::nullopt, std::nullopt, ""},
        // Would reach the service as another token: cut at the NUL, or a
        // request line split in two.
        {"NUL in the file", {"--token-file", "FILE"}, std::string("AB\0CD\n", 6), std::nullopt, ""},
        {"NUL on standard input", {"--token", "-"}, std::nullopt, std::string("AB\0CD", 5), ""},
        {"line break in the option", {"--token", "AB\nCD"}, std::nullopt, std::nullopt, ""},
        {"carriage return in the option", {"--token=AB\r"}, std::nullopt, std::nullopt, ""},
        {"line break in the variable", {}, std::nullopt, std::nullopt, "", "AB\nCD"},
    };
    for (const TokenSourceCase &c : cases) {
        const std::string file = TestFile("token", c.file);
        Args args = kStatusNoToken;
        for (const std::string &o : c.options) {
            const std::size_t at = o.find("FILE");
            args.push_back(at == std::string::npos ? o : o.substr(0, at) + file);
        }
        FakeLibrary fake;
        const RunResult r = RunTool(fake, args, c.env, c.input);
        if (c.token.empty()) {
            EXPECT_EQ(r.status, kExitNoToken) << c.label;
            EXPECT_TRUE(fake.Recorded().empty()) << c.label;
            EXPECT_EQ(CountLines(r.err), 1) << c.label << ": " << r.err;
            continue;
        }
        EXPECT_EQ(r.status, 0) << c.label << ": " << r.err;
        ASSERT_EQ(fake.Recorded().size(), 1u) << c.label;
        EXPECT_EQ(WideToUtf8(fake.Recorded()[0].args[1].c_str()), c.token) << c.label;
    }
}

TEST(EnvironmentToken, IsIgnoredByCallsThatTakeNoToken) {
    FakeLibrary fake;
    fake.location = Wide(u"https://dialog.example/x");
    EXPECT_EQ(RunTool(fake, {"fetch", "--url", "u", "--out", "o"}, "\xFF").status, 0);
    EXPECT_EQ(RunTool(fake, {"signin"}, "\xFF").status, 0);
    ASSERT_EQ(fake.Recorded().size(), 2u);
    EXPECT_EQ(fake.Recorded()[0].args, (std::vector<WString>{Wide(u"u"), Wide(u"o")}));
}

// ---------------------------------------------------------------------------
// Result codes: the exit status and the line on standard error.

// Every code vantrelfb.h defines.
const int kHeaderCodes[] = {
    VFB_DONE,          VFB_ERR_OPEN_ROOT_OR_MEDIA, VFB_ERR_OPEN,       VFB_ERR_SEND,         VFB_ERR_READ,
    VFB_ERR_TOO_LARGE, VFB_ERR_MEDIA_READ,         VFB_ERR_SEND_CHUNK, VFB_ERR_SEND_CLOSING, VFB_ERR_START,
    VFB_ERR_CONNECT};

TEST(ResultCodes, EachMapsToItsOwnExitStatusAndOnlyDoneToZero) {
    std::set<int> seen;
    const std::set<int> reserved = {kExitUsage,        kExitEmptyLocation, kExitUnknownResult,
                                    kExitOutputFailed, kExitRefused,       kExitTokenRejected,
                                    kExitRateLimited,  kExitNoToken,       kExitNoTemporary,
                                    kExitHttpError,    kExitNotStored,     kExitInterrupted};
    for (int code : kHeaderCodes) {
        FakeLibrary fake;
        fake.result = code;
        const RunResult r =
            RunTool(fake, {"photo", "--media", "p.jpg", "--target", "T", "--token", "K", "--out", "o"});
        ASSERT_EQ(fake.Recorded().size(), 1u);
        if (code == VFB_DONE) {
            EXPECT_EQ(r.status, 0);
        } else {
            EXPECT_GE(r.status, 1) << code;
            // Shells give statuses above 125 other meanings.
            EXPECT_LE(r.status, 125) << code;
            EXPECT_EQ(reserved.count(r.status), 0u) << "code " << code << " -> " << r.status;
        }
        EXPECT_TRUE(seen.insert(r.status).second) << "code " << code << " shares exit status " << r.status;
    }
    EXPECT_EQ(seen.size(), std::size(kHeaderCodes));
}

TEST(ResultCodes, OneLineOnStandardErrorSaysWhatHappenedToTheOutputFile) {
    for (int code : kHeaderCodes) {
        FakeLibrary fake;
        fake.result = code;
        const RunResult r = RunTool(
            fake, {"status", "--message", "m", "--token", "K", "--target", "T", "--out", "reply.json"});
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
        EXPECT_TRUE(Contains(r.err, "FaceBookStatus returned " + std::to_string(code) + ":")) << r.err;
        EXPECT_TRUE(Contains(r.err, vfb_result_meaning(code))) << r.err;
        EXPECT_TRUE(Contains(r.err, "'reply.json'")) << r.err;
        EXPECT_EQ(Contains(r.err, "left as it was"), code != VFB_DONE) << r.err;
    }
}

TEST(ResultCodes, UnknownCodesGetTheirOwnStatusAndNoClaimAboutTheFile) {
    for (int code : {0, 6, -1, 1000}) {
        FakeLibrary fake;
        fake.result = code;
        const RunResult r = RunTool(fake, {"fetch", "--url", "u", "--out", "o"});
        EXPECT_EQ(r.status, kExitUnknownResult) << code;
        EXPECT_TRUE(Contains(r.err, "returned " + std::to_string(code) + ":")) << r.err;
        EXPECT_FALSE(Contains(r.err, "left as it was")) << r.err;
        EXPECT_FALSE(Contains(r.err, "written if")) << r.err;
    }
    EXPECT_FALSE(std::count(std::begin(kHeaderCodes), std::end(kHeaderCodes), 0));
}

// The stored answer decides between 0 and a refusal's own status; only the
// document's own "error" object counts, and no content can upset the reader.
struct AnswerCase {
    const char *label;
    std::string stored;  // what the library leaves in the output file
    int status;
    std::vector<std::string> mentions;  // on standard error
    int result = VFB_DONE;
    bool to_stdout = false;  // --out -
    bool json = false;
    bool fifo = false;  // --out names a FIFO, where the library stores nothing

    // The call's detail and the tool's own options, as the functions below
    // set them.
    std::optional<int> http_status{};  // absent: the fake's (200 for a 999)
    bool kept = true;                  // the detail's `stored`
    bool out_fails = false;            // standard output refuses every write
    std::string cause{};               // the detail's message
    Args options{};                    // added to the command line
    std::vector<std::string> trace{};  // what the library would trace
    unsigned connect_ms = 0, stall_ms = 0;
    int lines = -1;  // on standard error; -1: the result line, the service's error and the cause
    std::vector<std::string> absent{};  // never on standard error

    AnswerCase Http(int status) const {
        return Set([&](AnswerCase &c) { c.http_status = status; });
    }
    AnswerCase Lost() const {
        return Set([](AnswerCase &c) { c.kept = false; });
    }
    AnswerCase OutFails() const {
        return Set([](AnswerCase &c) { c.out_fails = true; });
    }
    AnswerCase Cause(std::string text) const {
        return Set([&](AnswerCase &c) { c.cause = text; });
    }
    AnswerCase Options(Args more) const {
        return Set([&](AnswerCase &c) { c.options = more; });
    }
    AnswerCase Traced(std::vector<std::string> t) const {
        return Set([&](AnswerCase &c) { c.trace = t; });
    }
    AnswerCase Timeouts(unsigned connect, unsigned stall) const {
        return Set([&](AnswerCase &c) { c.connect_ms = connect, c.stall_ms = stall; });
    }
    AnswerCase Lines(int n) const {
        return Set([&](AnswerCase &c) { c.lines = n; });
    }
    AnswerCase Absent(std::vector<std::string> a) const {
        return Set([&](AnswerCase &c) { c.absent = a; });
    }

private:
    template <class F>
    AnswerCase Set(F f) const {
        AnswerCase c = *this;
        f(c);
        return c;
    }
};

std::string Error(const std::string &members) { return "{\"error\": {" + members + "}}"; }

const std::string kOAuth =
    R"("message": "Invalid OAuth access token.", "type": "OAuthException", "code": 190)";

TEST(ResultCodes, TheServiceErrorInTheAnswerIsARefusalWithItsOwnStatus) {
    const AnswerCase cases[] = {
        {"rejected token",
         Error(kOAuth),
         kExitTokenRejected,
         {"Invalid OAuth access token.", "OAuthException", "190"}},
        {"expired session",
         Error(R"("type":"OAuthException","code":102,"message":"Session expired")"),
         kExitTokenRejected,
         {"Session expired", "102"}},
        {"code 190 alone", Error(R"("code":190)"), kExitTokenRejected, {"(no message)", "code 190"}},
        {"application limit",
         Error(R"("message":"(#4) Application request limit reached","type":"OAuthException","code":4)"),
         kExitRateLimited,
         {"retry later", "(#4)", "code 4"}},
        {"user limit",
         Error(R"("code":17,"message":"User request limit reached")"),
         kExitRateLimited,
         {"retry later"}},
        {"page limit", Error(R"("code":32)"), kExitRateLimited, {"retry later"}},
        {"quoted code", Error(R"("code":"613")"), kExitRateLimited, {"retry later", "613"}},
        {"other refusal",
         Error(
             R"("message":"Unsupported get request.","type":"GraphMethodException","code":100,"error_subcode":33,"fbtrace_id":"A1b")"),
         kExitRefused,
         {"refused the call", "Unsupported get request.", "GraphMethodException", "100"}},
        {"empty error", Error(""), kExitRefused, {"(no message)"}},
        {"escapes and controls",
         Error(R"("message":"caf\u00e9 \ud83d\ude00 \u001b[2J x\/y")"),
         kExitRefused,
         {"caf\xC3\xA9 \xF0\x9F\x98\x80 \\x1b[2J x/y"}},
        {"byte order mark", "\xEF\xBB\xBF " + Error(kOAuth) + "\r\n", kExitTokenRejected, {"190"}},
        {"long answer",
         "{\"data\": \"" + std::string(3 << 20, 'a') + "\", \"error\": {\"code\": 17}}",
         kExitRateLimited,
         {"retry later"}},
        {"accepted", R"({"id":"100004213370815_10150293847561234"})", 0, {}},
        {"error below the top", R"({"data":{"error":{"code":190}}})", 0, {}},
        {"error as a text", R"({"error":"invalid_request"})", 0, {}},
        {"error replaced by a later member", R"({"error":{"code":190},"error":null})", 0, {}},
        {"in an array", "[" + Error(kOAuth) + "]", 0, {}},
        {"cut short", Error(kOAuth).substr(0, 40), 0, {}},
        {"followed by more", Error(kOAuth) + " {}", 0, {}},
        {"raw line end in a text", Error("\"message\": \"a\nb\", \"code\": 190"), 0, {}},
        {"deep nesting", "{\"error\":{\"a\":" + std::string(100000, '[') + "}}", 0, {}},
        {"binary", std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0{\"error\":{}}", 23), 0, {}},
        {"empty", "", 0, {}},
        {"not this call's answer",
         Error(kOAuth),
         ExitStatusFor(VFB_ERR_READ),
         {"left as it was"},
         VFB_ERR_READ},
        {"refusal on standard output",
         Error(kOAuth),
         kExitTokenRejected,
         {"standard output", "190"},
         VFB_DONE,
         true},
        {"binary on standard output",
         std::string("\x89PNG\r\n\x1a\n\0\0", 10),
         0,
         {"standard output"},
         VFB_DONE,
         true},
        {"nothing on standard output",
         "",
         ExitStatusFor(VFB_ERR_SEND),
         {"nothing goes to standard output"},
         VFB_ERR_SEND,
         true},
        {"refusal as JSON", Error(kOAuth), kExitTokenRejected, {"190"}, VFB_DONE, false, true},
        {"acceptance as JSON", R"({"id":"1"})", 0, {}, VFB_DONE, false, true},
        {"failure as JSON", "", ExitStatusFor(VFB_ERR_CONNECT), {}, VFB_ERR_CONNECT, false, true},
        {"output that is not a file", "", 0, {}, VFB_DONE, false, false, true},
        // Classified by the code alone, whatever the type says.
        {"code 102 alone", Error(R"("code":102)"), kExitTokenRejected, {"code 102"}},
        {"invalid parameter of type OAuthException",
         Error(R"("message":"(#100) Invalid parameter","type":"OAuthException","code":100)"),
         kExitRefused,
         {"refused the call", "OAuthException", "code 100"}},
        {"type OAuthException without a code",
         Error(R"("type":"OAuthException")"),
         kExitRefused,
         {"refused"}},
        // The service acted, and its answer is lost.
        AnswerCase{"answer not stored",
                   "",
                   kExitNotStored,
                   {"answer.json' not written",
                    "vantrelfb: output file /missing/a.json could not be created: No such file or directory"}}
            .Lost()
            .Cause("output file /missing/a.json could not be created: No such file or directory"),
        AnswerCase{
            "answer not stored, without a message", "", kExitNotStored, {"answer.json'", "No space left"}}
            .Lost(),
        AnswerCase{
            "answer not stored, as JSON", "", kExitNotStored, {"could not be created"}, VFB_DONE, false, true}
            .Lost()
            .Cause("output file could not be created"),
        AnswerCase{"standard output refuses the answer",
                   R"({"id":"1"})",
                   kExitOutputFailed,
                   {"could not be written to standard output"},
                   VFB_DONE,
                   true}
            .OutFails()
            .Lines(2),
        AnswerCase{"standard output refuses a refusal",
                   Error(kOAuth),
                   kExitTokenRejected,
                   {"190", "could not be written to standard output"},
                   VFB_DONE,
                   true}
            .OutFails()
            .Lines(3),
        AnswerCase{"answer for standard output not stored",
                   Error(kOAuth),
                   kExitNotStored,
                   {"nothing goes to standard output", "disk full"},
                   VFB_DONE,
                   true}
            .Lost()
            .Cause("disk full"),
        // An HTTP error is a failure, unless the body is the service's error.
        AnswerCase{"HTTP error without an error object",
                   "<html>Internal Server Error</html>",
                   kExitHttpError,
                   {"HTTP status 500", "no error object", "answer.json'"}}
            .Http(500)
            .Lines(2),
        AnswerCase{
            "HTTP error as JSON", "<html/>", kExitHttpError, {"HTTP status 404"}, VFB_DONE, false, true}
            .Http(404)
            .Lines(2),
        AnswerCase{"HTTP error with the service's error", Error(kOAuth), kExitTokenRejected, {"190"}}.Http(
            400),
        // Not JSON, so no error object; the service's own refusals come
        // with a status of 400 or more, so they still fail.
        AnswerCase{"an unpaired surrogate",
                   Error(R"("message":"a \ud800 b","code":190)"),
                   kExitHttpError,
                   {"HTTP status 400"}}
            .Http(400)
            .Lines(2),
        AnswerCase{"a text that is not UTF-8",
                   Error("\"message\":\"a \xFF b\",\"code\":190"),
                   kExitHttpError,
                   {"HTTP status 401"}}
            .Http(401)
            .Lines(2),
        AnswerCase{"a redirect as the answer", "<a href=x>moved</a>", 0, {}}.Http(302),
        AnswerCase{"a status below 400 as JSON", "{}", 0, {}, VFB_DONE, false, true}.Http(399),
        // Every failure says its cause.
        AnswerCase{"failure with its cause",
                   "",
                   ExitStatusFor(VFB_ERR_OPEN),
                   {"vantrelfb: cannot resolve graph.facebook.com\n"},
                   VFB_ERR_OPEN}
            .Cause("cannot resolve graph.facebook.com"),
        AnswerCase{"failure and its cause as JSON",
                   "",
                   ExitStatusFor(VFB_ERR_START),
                   {"message too long: 3000 characters, at most 1999"},
                   VFB_ERR_START,
                   false,
                   true}
            .Cause("message too long: 3000 characters, at most 1999"),
        AnswerCase{
            "cause with control characters", "", ExitStatusFor(VFB_ERR_SEND), {"a\\x1b[2Jb"}, VFB_ERR_SEND}
            .Cause("a\x1b[2Jb"),
        // -q, -v and the time-outs.
        AnswerCase{"quiet success", R"({"id":"1"})", 0, {}}.Options({"-q"}).Lines(0),
        AnswerCase{"quiet refusal", Error(kOAuth), kExitTokenRejected, {"returned 999", "190"}}.Options(
            {"--quiet"}),
        AnswerCase{"quiet failure", "", ExitStatusFor(VFB_ERR_SEND), {"returned 3", "refused"}, VFB_ERR_SEND}
            .Options({"-q"})
            .Cause("connection refused by graph.facebook.com"),
        AnswerCase{
            "verbose",
            R"({"id":"1"})",
            0,
            {"> POST /me/feed?access_token=<redacted> HTTP/1.1\n< HTTP/1.1 200 OK\\x1b[2J\nvantrelfb: "}}
            .Options({"-v"})
            .Traced({"> POST /me/feed?access_token=<redacted> HTTP/1.1", "< HTTP/1.1 200 OK\x1b[2J"})
            .Lines(3),
        AnswerCase{"no trace unless asked", R"({"id":"1"})", 0, {}}
            .Traced({"> POST /me/feed"})
            .Absent({"POST"}),
        AnswerCase{"time-outs", R"({"id":"1"})", 0, {}}
            .Options({"--connect-timeout", "2.5", "--stall-timeout=600"})
            .Timeouts(2500, 600000),
        AnswerCase{"a time-out below a millisecond", R"({"id":"1"})", 0, {}}
            .Options({"--stall-timeout", "0.0001"})
            .Timeouts(0, 1),
    };
    for (const AnswerCase &c : cases) {
        const std::string path = TestFile("answer.json");
#if !defined(_WIN32)
        if (c.fifo) {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        }
#endif
        FakeLibrary fake;
        fake.result = c.result;
        if (!c.fifo) fake.answer = c.stored;
        fake.http_status = c.http_status;
        fake.stored = c.kept;
        fake.stored_errno = c.kept ? 0 : ENOSPC;
        fake.failure = !c.kept                ? VFB_FAIL_OUTPUT_FILE
                       : c.result != VFB_DONE ? VFB_FAIL_CONNECTION
                                              : VFB_FAIL_NONE;
        fake.message = c.cause;
        fake.trace = c.trace;
        fake.out_fails = c.out_fails;
        Args args = {
            "status", "--message", "m", "--token", "K", "--target", "T", "--out", c.to_stdout ? "-" : path};
        if (c.json) args.push_back("--json");
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = RunTool(fake, args);
        EXPECT_EQ(r.status, c.status) << c.label << ": " << r.err;
        for (const std::string &m : c.mentions) EXPECT_TRUE(Contains(r.err, m)) << c.label << ": " << r.err;
        for (const std::string &m : c.absent) EXPECT_FALSE(Contains(r.err, m)) << c.label << ": " << r.err;
        EXPECT_FALSE(Contains(r.err, "\x1b")) << c.label;
        // The result line, the service's error when there is one, the cause
        // of a failure.
        const bool refused =
            c.status == kExitTokenRejected || c.status == kExitRateLimited || c.status == kExitRefused;
        const int lines = c.lines >= 0 ? c.lines : 1 + refused + (c.cause.empty() && c.kept ? 0 : 1);
        EXPECT_EQ(CountLines(r.err), lines) << c.label << ": " << r.err;
        ASSERT_EQ(fake.Recorded().size(), 1u);
        // Ctrl-C always cancels; the rest only when asked, and nothing stays
        // set after the call.
        EXPECT_TRUE(fake.Recorded()[0].progress) << c.label;
        const bool verbose = std::count(c.options.begin(), c.options.end(), "-v") > 0;
        EXPECT_EQ(fake.Recorded()[0].trace, verbose) << c.label;
        EXPECT_EQ(fake.Recorded()[0].connect_ms, c.connect_ms) << c.label;
        EXPECT_EQ(fake.Recorded()[0].stall_ms, c.stall_ms) << c.label;
        EXPECT_TRUE(!fake.progress_fn && !fake.trace_fn && !fake.connect_ms && !fake.stall_ms) << c.label;
        if (c.to_stdout) {
            EXPECT_EQ(r.out, c.result == VFB_DONE && c.kept && !c.out_fails ? c.stored : "") << c.label;
            // The library wrote into a file of the tool's own, gone now.
            const std::string written = WideToUtf8(fake.Recorded()[0].args.back().c_str());
            EXPECT_NE(written, "-");
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(written))) << written;
        } else if (c.json) {
            EXPECT_EQ(CountLines(r.out), 1) << r.out;
            EXPECT_TRUE(Contains(r.out, "\"exit_status\":" + std::to_string(c.status) + ",")) << r.out;
            EXPECT_TRUE(Contains(r.out, "\"result\":" + std::to_string(c.result) + ",")) << r.out;
            const int http = c.http_status.value_or(c.result == VFB_DONE ? 200 : 0);
            EXPECT_TRUE(Contains(r.out, "\"http_status\":" + (http ? std::to_string(http) : "null") + ","))
                << r.out;
            if (!c.cause.empty()) {
                EXPECT_TRUE(Contains(r.out, "\"cause\":\"" + c.cause + "\"")) << r.out;
            }
            EXPECT_TRUE(Contains(r.out, "\"size\":" + std::to_string(c.stored.size()) + "}")) << r.out;
            EXPECT_TRUE(Contains(r.out, std::string("\"meaning\":\"") + vfb_result_meaning(c.result)));
            EXPECT_EQ(Contains(r.out, "\"refusal\":\"token_rejected\""), c.status == kExitTokenRejected)
                << r.out;
            // Well-formed: as the member of an error object it reads back.
            EXPECT_TRUE(FindServiceError("{\"error\":" + r.out + "}")) << r.out;
        } else {
            EXPECT_TRUE(r.out.empty()) << c.label;
        }
    }
}

TEST(ResultCodes, ToolHelpDocumentsTheStatusOfEveryCode) {
    FakeLibrary fake;
    const std::string help = RunTool(fake, {"--help"}).out;
    std::istringstream lines(help);
    std::string line;
    std::set<int> documented;
    while (std::getline(lines, line)) {
        for (int code : kHeaderCodes) {
            if (!Contains(line, "result " + std::to_string(code) + ":")) continue;
            fake.result = code;
            const int status = RunTool(fake, {"fetch", "--url", "u", "--out", "o"}).status;
            std::istringstream fields(line);
            int shown = -1;
            fields >> shown;
            EXPECT_EQ(shown, status) << line;
            documented.insert(code);
        }
    }
    EXPECT_EQ(documented.size(), std::size(kHeaderCodes)) << help;
    for (int status : {kExitUsage, kExitEmptyLocation, kExitUnknownResult, kExitOutputFailed, kExitRefused,
                       kExitTokenRejected, kExitRateLimited, kExitNoToken, kExitNoTemporary, kExitHttpError,
                       kExitNotStored, kExitInterrupted})
        EXPECT_TRUE(Contains(help, "\n  " + std::to_string(status) + " ")) << status;
}

// ---------------------------------------------------------------------------
// signin

TEST(SignIn, PrintsTheLocationAsUtf8AndSucceeds) {
    FakeLibrary fake;
    fake.location = Wide(u"https://www.example.com/connect/login_success.html#state=\u00E9\U0001F600");
    const RunResult r = RunTool(fake, {"signin"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "https://www.example.com/connect/login_success.html#state=\xC3\xA9\xF0\x9F\x98\x80\n");
    ASSERT_EQ(fake.Recorded().size(), 1u);
    EXPECT_EQ(fake.Recorded()[0].export_name, "FaceBookTokenGraph");
}

TEST(SignIn, AnEmptyOrNullLocationIsAFailureOfItsOwn) {
    for (bool null : {false, true}) {
        FakeLibrary fake;
        fake.null_location = null;
        const RunResult r = RunTool(fake, {"signin"});
        EXPECT_EQ(r.status, kExitEmptyLocation);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.status, kExitUsage);
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
        EXPECT_EQ(fake.Recorded().size(), 1u);
    }
    // With its cause when the library gives one, and Ctrl-C cancels it too.
    FakeLibrary fake;
    fake.message = "cannot resolve www.facebook.com";
    const RunResult r = RunTool(fake, {"signin", "--json"});
    EXPECT_EQ(r.status, kExitEmptyLocation);
    EXPECT_TRUE(Contains(r.err, "\nvantrelfb: cannot resolve www.facebook.com\n")) << r.err;
    EXPECT_TRUE(Contains(r.out, "\"cause\":\"cannot resolve www.facebook.com\"")) << r.out;
    fake.location = Wide(u"https://dialog.example/x");
    fake.progress = {{0, 0, 0, 0, 0, true}};
    const RunResult interrupted = RunTool(fake, {"signin"});
    EXPECT_EQ(interrupted.status, kExitInterrupted);
    EXPECT_TRUE(fake.cancelled);
    EXPECT_TRUE(interrupted.out.empty()) << interrupted.out;
    EXPECT_TRUE(Contains(interrupted.err, "interrupted: cancelled")) << interrupted.err;
}

// ---------------------------------------------------------------------------
// Help and version

TEST(Help, EveryFormIsSuccessOnStandardOutputWithoutACall) {
    FakeLibrary fake;
    const std::string tool = RunTool(fake, {"--help"}).out;
    for (const Args &args : {Args{"-h"}, Args{"help"}}) EXPECT_EQ(RunTool(fake, args).out, tool);
    EXPECT_TRUE(Contains(tool, "VANTRELFB_TOKEN"));
    for (const Args &args :
         {Args{"note", "--help"}, Args{"note", "-h"}, Args{"help", "note"}, Args{"signin", "--help"},
          Args{"--version"}, Args{"completion", "zsh"}, Args{"completion", "fish"}}) {
        const RunResult r = RunTool(fake, args);
        EXPECT_EQ(r.status, 0) << args.back();
        EXPECT_FALSE(r.out.empty());
        EXPECT_TRUE(r.err.empty());
    }
    EXPECT_TRUE(Contains(RunTool(fake, {"note", "--help"}).out, "FaceBookNotesEdit"));
    EXPECT_TRUE(Contains(RunTool(fake, {"status", "--help"}).out, "VANTRELFB_TOKEN"));
    EXPECT_FALSE(Contains(RunTool(fake, {"fetch", "--help"}).out, "VANTRELFB_TOKEN"));
    // Why a token is better kept off the command line.
    EXPECT_TRUE(Contains(RunTool(fake, {"status", "--help"}).out, "--token-file"));
    EXPECT_TRUE(Contains(tool, "can see the command line"));
    // The helps the exports' table does not cover end with an example too.
    for (const Args &args : {Args{"note", "--help"}, Args{"signin", "--help"}, Args{"completion", "--help"},
                             Args{"help", "completion"}})
        EXPECT_TRUE(Contains(ExampleOf(RunTool(fake, args).out), "vantrelfb ")) << args[0];
    const RunResult completion = RunTool(fake, {"completion", "bash"});
    EXPECT_EQ(completion.status, 0);
    EXPECT_TRUE(
        Contains(completion.out,
                 "'signin') options='--json --connect-timeout --stall-timeout --verbose --quiet --help' "
                 "values='--connect-timeout --stall-timeout' ;;"))
        << completion.out;
    EXPECT_TRUE(Contains(completion.out, "\ncomplete -F _vantrelfb vantrelfb\n")) << completion.out;
    EXPECT_TRUE(fake.Recorded().empty());
}

}  // namespace
}  // namespace vfbtool::fake
