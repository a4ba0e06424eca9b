// The header's ordinal table is the one list of the exports; the .def file
// and the Linux export map are written by hand and must say the same.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
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
    std::istringstream lines(def);
    for (std::string l; std::getline(lines, l);) {
        // "    Name @N" or "    Name @N DATA"
        std::istringstream words(l);
        std::string name, ordinal;
        if (l.empty() || l[0] != ' ' || !(words >> name >> ordinal) || ordinal[0] != '@') continue;
        EXPECT_TRUE(byOrdinal.emplace(std::stoi(ordinal.substr(1)), name).second) << l;
    }
    ASSERT_EQ(byOrdinal.size(), static_cast<std::size_t>(VFB_EXPORT_COUNT));
    for (int ordinal = 1; ordinal <= VFB_EXPORT_COUNT; ++ordinal)
        EXPECT_EQ(byOrdinal[ordinal], vfb_export_name(ordinal));
}

TEST(ExportList, ExportMapLetsEachNameThrough) {
    const std::string map = Slurp(VFB_MODULE_DIR "/exports.map");
    const std::string global = map.substr(0, map.find("local:"));
    std::vector<std::string> patterns;
    std::istringstream entries(global.substr(global.find("global:") + 7));
    for (std::string entry; entries >> entry;)
        if (entry.size() > 1 && entry.back() == ';') patterns.push_back(entry.substr(0, entry.size() - 1));
    for (int ordinal = 1; ordinal <= 16; ++ordinal) {
        bool matched = false;
        for (const std::string &p : patterns)
            matched = matched || fnmatch(p.c_str(), vfb_export_name(ordinal), 0) == 0;
        EXPECT_TRUE(matched) << vfb_export_name(ordinal);
    }
}

}  // namespace
