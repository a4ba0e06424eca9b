// The header's ordinal table is the one list of the exports; the .def file
// and the Linux export map are written by hand and must say the same.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "vantrelfb.h"

namespace {

std::string Slurp(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ExportList, DefFileGivesEachOrdinalTheHeadersName) {
    const std::string def = Slurp(VFB_MODULE_DIR "/VantrelFB.def");
    ASSERT_FALSE(def.empty());
    std::map<int, std::string> byOrdinal;
    const std::regex line(R"(^\s+(\S+)\s+@(\d+)(\s+DATA)?\s*$)");
    std::istringstream lines(def);
    for (std::string l; std::getline(lines, l);) {
        std::smatch m;
        if (!std::regex_match(l, m, line)) continue;
        EXPECT_TRUE(byOrdinal.emplace(std::stoi(m[2]), m[1]).second) << l;
    }
    ASSERT_EQ(byOrdinal.size(), 16u);
    for (int ordinal = 1; ordinal <= 16; ++ordinal) EXPECT_EQ(byOrdinal[ordinal], vfb_export_name(ordinal));
}

TEST(ExportList, ExportMapLetsEachNameThrough) {
    const std::string map = Slurp(VFB_MODULE_DIR "/exports.map");
    const std::string global = map.substr(0, map.find("local:"));
    std::vector<std::string> patterns;
    const std::regex entry(R"(([A-Za-z_0-9*]+);)");
    for (std::sregex_iterator it(global.begin(), global.end(), entry), end; it != end; ++it)
        patterns.push_back((*it)[1]);
    for (int ordinal = 1; ordinal <= 16; ++ordinal) {
        bool matched = false;
        for (const std::string &p : patterns)
            matched = matched || fnmatch(p.c_str(), vfb_export_name(ordinal), 0) == 0;
        EXPECT_TRUE(matched) << vfb_export_name(ordinal);
    }
}

}  // namespace
