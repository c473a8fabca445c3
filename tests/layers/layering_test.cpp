// The folders are the layers of the program. An include may point down the
// table below, never up or sideways: a window never includes another
// window's folder, the logic never includes a window, and the ground floor
// includes nothing of ours. A new folder of sources must be added here.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Each layer and the layers it may include (besides itself).
const std::map<std::string, std::set<std::string>> kAllowedIncludes{
    {"core", {}},
    {"ui", {"core"}},
    {"store", {"core"}},
    {"mail", {"store", "core"}},
    {"chara", {"ui", "mail", "store", "core"}},
    {"settings", {"ui", "mail", "store", "core"}},
    {"compose", {"ui", "mail", "store", "core"}},
    {"viewer", {"ui", "mail", "store", "core"}},
    {"app", {"ui", "mail", "store", "core", "chara", "settings", "compose", "viewer"}},
    // The fuzz targets' checks drive the logic below the windows.
    {"fuzz", {"mail", "store", "core"}},
};

// Plain logic that lives in one window's folder and that another window
// may use too: the search's folding, which address completion shares.
const std::set<std::string> kSharedLogic{"viewer/search_text.h"};

// Folders of the tree that hold no program sources of a layer; build trees
// ("build", "build-asan", ...) hold generated ones.
const std::set<std::string> kNotLayers{"tests", "scripts", "docs", "run-home", "screenshots"};

bool IsSource(const fs::path& file) {
    const std::string ext = file.extension().string();
    return ext == ".cpp" || ext == ".h";
}

// "file:line: what is wrong" for every include that climbs, every include of
// a folder the table does not know, and every folder of sources that is not
// in the table.
std::vector<std::string> FindLayerViolations(const fs::path& root) {
    std::vector<std::string> found;
    const std::regex include(R"re(^\s*#\s*include\s*"(([^"/]+)/[^"]*)")re");
    for (const fs::directory_entry& top : fs::directory_iterator(root)) {
        const std::string layer = top.path().filename().string();
        if (!top.is_directory() || layer.starts_with(".") || layer.starts_with("build") || kNotLayers.contains(layer))
            continue;
        const auto allowed = kAllowedIncludes.find(layer);
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(top.path())) {
            if (!entry.is_regular_file() || !IsSource(entry.path())) continue;
            const std::string name = fs::relative(entry.path(), root).string();
            if (allowed == kAllowedIncludes.end()) {
                found.push_back(name + ": folder \"" + layer + "\" is not in the layer table");
                continue;
            }
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                std::smatch match;
                if (!std::regex_search(line, match, include)) continue;
                const std::string target = match[2].str();
                if (target == layer || allowed->second.contains(target)) continue;
                // Only a window may, as a window folder holds it.
                if (kSharedLogic.contains(match[1].str()) && allowed->second.contains("ui")) continue;
                const std::string where = name + ":" + std::to_string(number) + ": ";
                if (kAllowedIncludes.contains(target))
                    found.push_back(where + layer + " may not include " + target);
                else
                    found.push_back(where + "includes \"" + target + "\", which is not a layer");
            }
        }
    }
    return found;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
}

TEST(Layers, NoIncludeOfTheSourceTreeClimbs) {
    const std::vector<std::string> found = FindLayerViolations(LUMOPET_SOURCE_DIR);
    EXPECT_TRUE(found.empty()) << Joined(found);
}

// The checker itself, on small trees made for the purpose.
struct TreeCase {
    const char* name;
    const char* file;
    const char* text;
    const char* expected;  // what the one report contains; empty: no report
};

class LayerChecker : public testing::TestWithParam<TreeCase> {};

TEST_P(LayerChecker, ReportsExactlyTheClimbingInclude) {
    const TreeCase& c = GetParam();
    const fs::path root = fs::path(testing::TempDir()) / ("layers_" + std::string(c.name));
    fs::remove_all(root);
    fs::create_directories((root / c.file).parent_path());
    std::ofstream(root / c.file) << c.text;

    const std::vector<std::string> found = FindLayerViolations(root);
    if (std::string(c.expected).empty()) {
        EXPECT_TRUE(found.empty()) << Joined(found);
    } else {
        ASSERT_EQ(found.size(), 1u) << Joined(found);
        EXPECT_NE(found[0].find(c.expected), std::string::npos) << found[0];
    }
    fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LayerChecker,
    testing::Values(
        TreeCase{"core_up_to_app", "core/a.h", "#include \"app/MainForm.h\"\n", "core/a.h:1: core may not include app"},
        TreeCase{"core_to_ui", "core/x/b.cpp", "\n  #  include \"ui/message_box.h\"\n",
                 "core/x/b.cpp:2: core may not include ui"},
        TreeCase{"window_to_window", "chara/c.cpp", "#include \"settings/SetForm.h\"\n", "chara may not include settings"},
        TreeCase{"mail_to_ui", "mail/m.cpp", "#include \"ui/window_directory.h\"\n", "mail may not include ui"},
        TreeCase{"unknown_target", "store/s.cpp", "#include \"gadgets/g.h\"\n", "not a layer"},
        TreeCase{"unknown_folder", "gadgets/g.cpp", "int g;\n", "not in the layer table"},
        TreeCase{"window_down", "compose/w.cpp",
                 "#include \"compose/w.h\"\n#include \"ui/message_box.h\"\n#include \"mail/mail_library.h\"\n"
                 "#include \"store/history_file.h\"\n#include \"core/cp932.h\"\n#include <QWidget>\n",
                 ""},
        TreeCase{"window_to_shared_logic", "compose/c.cpp", "#include \"viewer/search_text.h\"\n", ""},
        TreeCase{"store_to_shared_logic", "store/s.cpp", "#include \"viewer/search_text.h\"\n",
                 "store may not include viewer"},
        TreeCase{"window_to_other_viewer_file", "compose/c.cpp", "#include \"viewer/history_search.h\"\n",
                 "compose may not include viewer"},
        TreeCase{"app_uses_all", "app/main.cpp", "#include \"viewer/TyakuForm.h\"\n#include \"chara/CharacterWindow.h\"\n",
                 ""},
        TreeCase{"tests_may_use_anything", "tests/t.cpp", "#include \"app/MainForm.h\"\n", ""},
        TreeCase{"commented_out", "core/k.h", "// #include \"app/MainForm.h\"\n", ""}),
    [](const testing::TestParamInfo<TreeCase>& info) { return std::string(info.param.name); });

}  // namespace
