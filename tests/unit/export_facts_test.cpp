// The exports' ordinals, arguments and result codes and the input limits are
// written down in the header's comments, README, vantrelfb(3) and the
// operations' constants; each must say what module/export_facts.h says, so
// that a change in one place cannot leave another behind.
//
// GCC 12 reports a false maybe-uninitialized inside <regex> (std::function's
// move in its automaton) when the sanitizers instrument it; this file's own
// code is not what it is about.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "module/export_facts.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "operations/capture.h"
#include "operations/operations.h"
#include "text/text.h"
#include "vantrelfb.h"

namespace {

using vfb::facts::Export;
using vfb::facts::kExports;
using vfb::facts::Limit;

std::string Slurp(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Documents wrap their sentences anywhere.
std::string OneLine(const std::string &text) { return std::regex_replace(text, std::regex(R"(\s+)"), " "); }

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

std::vector<std::string> Arguments(const Export &e) {
    std::vector<std::string> names;
    for (const char *a : e.arguments)
        if (a) names.push_back(a);
    return names;
}

std::string Results(const Export &e) {
    std::string list;
    for (int code : e.results)
        if (code != vfb::facts::kEndOfList) list += (list.empty() ? "" : ", ") + std::to_string(code);
    return list;
}

const Export *Find(const std::string &name) {
    for (const Export &e : kExports)
        if (name == e.name) return &e;
    return nullptr;
}

bool IsSample(const Export &e) { return e.ordinal >= 13 && e.ordinal <= 16; }

std::string Sentence(const Limit &limit) { return std::to_string(limit.value) + " " + limit.unit; }

// README and vantrelfb(3) state the refusals in the same words.
std::string RefusalSentence() {
    using namespace vfb::facts;
    return "A text whose UTF-8 form exceeds " + Sentence(kTextBytes) + " or whose encoded form exceeds " +
           Sentence(kEncodedTextBytes) + ", a path or URL longer than " + Sentence(kPathUnits) +
           ", or an upload's closing part over " + Sentence(kClosingPartBytes) +
           " is refused before anything is sent (" + std::to_string(VFB_ERR_OPEN) + ", or " +
           std::to_string(VFB_ERR_START) + " for uploads)";
}

TEST(ExportFacts, TableIsOrderedByOrdinal) {
    ASSERT_EQ(std::size(kExports), static_cast<std::size_t>(VFB_EXPORT_COUNT));
    for (std::size_t i = 0; i < std::size(kExports); ++i) {
        EXPECT_EQ(kExports[i].ordinal, static_cast<int>(i) + 1);
        if (!IsSample(kExports[i])) {
            EXPECT_STREQ(vfb_export_name(kExports[i].ordinal), kExports[i].name);
        }
    }
}

TEST(ExportFacts, OperationsEnforceTheTablesLimits) {
    using namespace vfb::facts;
    EXPECT_EQ(kTextBytes.value, vfb::kMaxNarrowBytes);
    EXPECT_EQ(kEncodedTextBytes.value, vfb::kMaxEncodedBytes);
    EXPECT_EQ(kPathUnits.value, vfb::kMaxPathUnits);
    EXPECT_EQ(kClosingPartBytes.value, vfb::kMaxClosingPartBytes);
    EXPECT_EQ(kFormAnswerBytes.value, vfb::ResponseBuffer::kTooLarge);
    EXPECT_EQ(kSignInLocationUnits.value, vfb::kSignInResultUnits);
}

TEST(ExportFacts, HeaderCommentsAndPrototypesMatchTheTable) {
    const std::string header = Slurp(VFB_SOURCE_DIR "/include/vantrelfb.h");
    ASSERT_FALSE(header.empty());
    // A comment "Ordinal N: ..." and the declaration after it (a callback's typedef may come between).
    const std::regex entry(
        R"(/\*[\s*]*Ordinal (\d+):([\s\S]*?)\*/\s*(?:typedef[^;]*;\s*)?VANTRELFB_API ([^;]*);)");
    const std::regex prototype(R"((\w+)\)?\s*\(([^()]*)\)\s*$)");
    const std::regex results(R"(Results (as (\w+)|\d+(?:, \d+)*))");
    std::set<int> seen;
    for (std::sregex_iterator m(header.begin(), header.end(), entry), end; m != end; ++m) {
        const int ordinal = std::stoi((*m)[1]);
        SCOPED_TRACE("header, ordinal " + std::to_string(ordinal));
        ASSERT_TRUE(ordinal >= 1 && ordinal <= VFB_EXPORT_COUNT);
        const Export &e = kExports[ordinal - 1];
        EXPECT_TRUE(seen.insert(ordinal).second);

        std::smatch p;
        const std::string declaration = (*m)[3];
        ASSERT_TRUE(std::regex_search(declaration, p, prototype)) << declaration;
        EXPECT_EQ(p[1].str(), e.name);
        std::vector<std::string> names;
        std::istringstream params(p[2].str());
        for (std::string param; std::getline(params, param, ',');) {
            std::smatch last;
            if (std::regex_search(param, last, std::regex(R"((\w+)\s*$)")) && last[1] != "void")
                names.push_back(last[1]);
        }
        EXPECT_EQ(names, Arguments(e));

        const std::string comment = OneLine(std::regex_replace((*m)[2].str(), std::regex(R"(\n\s*\*)"), " "));
        std::smatch r;
        if (!std::regex_search(comment, r, results)) {
            EXPECT_EQ(Results(e), "") << comment;
        } else if (r[2].matched) {
            const Export *same = Find(r[2]);
            ASSERT_NE(same, nullptr) << comment;
            EXPECT_EQ(Results(*same), Results(e)) << comment;
        } else {
            EXPECT_EQ(r[1].str(), Results(e)) << comment;
        }
    }
    for (const Export &e : kExports)
        if (!IsSample(e)) {
            EXPECT_EQ(seen.count(e.ordinal), 1u) << "no \"Ordinal N:\" comment for " << e.name;
        }

    const std::string all = OneLine(header);
    EXPECT_NE(all.find("at most " + Sentence(vfb::facts::kSignInLocationUnits)), std::string::npos);
    EXPECT_NE(all.find("response of " + Sentence(vfb::facts::kFormAnswerBytes) + " or more"),
              std::string::npos);
}

TEST(ExportFacts, ReadmeTablesAndLimitsMatchTheTable) {
    const std::string readme = Slurp(VFB_SOURCE_DIR "/README.md");
    ASSERT_FALSE(readme.empty());
    const std::size_t begin = readme.find("## The exports"), end = readme.find("## Result codes");
    ASSERT_LT(begin, end);
    const std::string section = readme.substr(begin, end - begin);

    const std::regex row(R"(^\| (\d+) \| `([^`]*)` \| ([^|]*) \| ([^|]*) \|$)");
    std::set<int> seen;
    std::istringstream lines(section);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, row)) {
            EXPECT_FALSE(std::regex_search(line, std::regex(R"(^\| \d)"))) << "unreadable row: " << line;
            continue;
        }
        const int ordinal = std::stoi(m[1]);
        SCOPED_TRACE("README, " + line);
        ASSERT_TRUE(ordinal >= 1 && ordinal <= VFB_EXPORT_COUNT);
        const Export &e = kExports[ordinal - 1];
        EXPECT_TRUE(seen.insert(ordinal).second);
        EXPECT_EQ(m[2].str(), e.name);
        // The samples and the extensions describe theirs in words.
        if (IsSample(e) || ordinal >= vfb::facts::kFirstExtension) continue;
        std::string arguments;
        for (const std::string &a : Arguments(e)) arguments += (arguments.empty() ? "`" : ", `") + a + "`";
        EXPECT_EQ(m[3].str(), arguments.empty() ? "none" : arguments);
        if (!Results(e).empty()) {
            EXPECT_EQ(m[4].str(), Results(e));
        }
    }
    EXPECT_EQ(seen.size(), std::size(kExports));

    const std::string all = OneLine(readme);
    EXPECT_NE(all.find(RefusalSentence()), std::string::npos) << RefusalSentence();
    EXPECT_NE(all.find("response was " + Sentence(vfb::facts::kFormAnswerBytes) + " or more"),
              std::string::npos);
    EXPECT_NE(all.find("(at most " + std::to_string(vfb::facts::kFormAnswerBytes.value - 1) + " bytes)"),
              std::string::npos);
}

TEST(ExportFacts, ManualPageMatchesTheTable) {
    const std::string page = Replace(Slurp(VFB_SOURCE_DIR "/docs/man/vantrelfb.3.in"), "\\-", "-");
    ASSERT_FALSE(page.empty());

    // SYNOPSIS: in each .BI line the quoted words are bold and the bare ones the arguments.
    std::map<std::string, std::vector<std::string>> synopsis;
    std::string current;
    const std::size_t from = page.find(".SH SYNOPSIS"), to = page.find(".SH DESCRIPTION");
    ASSERT_LT(from, to);
    std::istringstream lines(page.substr(from, to - from));
    const std::regex token(R"re("([^"]*)"|(\S+))re");
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(".BI ", 0) != 0) continue;
        const std::string rest = line.substr(4);
        for (std::sregex_iterator t(rest.begin(), rest.end(), token), end; t != end; ++t) {
            std::smatch name;
            const std::string quoted = (*t)[1];
            if ((*t)[1].matched && std::regex_search(quoted, name, std::regex(R"((\w+)\()"))) {
                current = name[1];
                synopsis[current];
            } else if ((*t)[2].matched && std::regex_match((*t)[2].str(), std::regex(R"(\w+)"))) {
                synopsis[current].push_back((*t)[2]);
            }
        }
    }
    for (const Export &e : kExports) {
        if (IsSample(e)) continue;
        SCOPED_TRACE(std::string("vantrelfb(3), ") + e.name);
        if (e.ordinal == 11) {  // no argument to set in italics
            EXPECT_NE(page.find(std::string(".B \"const VFB_WCHAR *") + e.name + "(void);\""),
                      std::string::npos);
            continue;
        }
        ASSERT_EQ(synopsis.count(e.name), 1u);
        EXPECT_EQ(synopsis[e.name], Arguments(e));
    }

    // DESCRIPTION: each tagged paragraph names its exports, then "Results: ...".
    std::set<std::string> described;
    const std::regex word(R"(\w+)");
    std::size_t at = 0;
    while ((at = page.find("\n.TP\n", at)) != std::string::npos) {
        at += 5;
        const std::size_t next = page.find("\n.TP\n", at);
        const std::string block = page.substr(at, next == std::string::npos ? std::string::npos : next - at);
        const std::string tag = block.substr(0, block.find('\n'));
        std::smatch r;
        const std::string text = OneLine(block);
        if (!std::regex_search(text, r, std::regex(R"(Results: (\d+(?:, \d+)*)\.)"))) continue;
        for (std::sregex_iterator n(tag.begin(), tag.end(), word), end; n != end; ++n) {
            const Export *e = Find(n->str());
            if (!e) continue;
            SCOPED_TRACE("vantrelfb(3), " + tag);
            EXPECT_EQ(r[1].str(), Results(*e));
            described.insert(e->name);
        }
    }
    for (const Export &e : kExports)
        if (!Results(e).empty()) {
            EXPECT_EQ(described.count(e.name), 1u) << "vantrelfb(3) gives no results for " << e.name;
        }

    const std::string all = OneLine(page);
    const std::string count = std::to_string(VFB_EXPORT_COUNT);
    EXPECT_NE(all.find("ordinals 1 to " + count), std::string::npos);
    EXPECT_NE(all.find("(ordinals " + std::to_string(vfb::facts::kFirstExtension) + " to " + count + ")"),
              std::string::npos);
    EXPECT_NE(all.find(RefusalSentence()), std::string::npos) << RefusalSentence();
    EXPECT_NE(all.find("answer was " + Sentence(vfb::facts::kFormAnswerBytes) + " or more"),
              std::string::npos);
    EXPECT_NE(all.find("(at most " + std::to_string(vfb::facts::kFormAnswerBytes.value - 1) + " bytes)"),
              std::string::npos);
    EXPECT_NE(all.find("(at most " + Sentence(vfb::facts::kSignInLocationUnits)), std::string::npos);
}

}  // namespace
