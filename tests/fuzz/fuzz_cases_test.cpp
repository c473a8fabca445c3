// Every seed of the fuzz targets and every input that once broke something,
// through the same checks the fuzz targets run, in the normal build: a fault
// found once stays found.

#include "fuzz/checks.h"
#include "fuzz/scratch_folder.h"
#include "mail/mail_library.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using lumopet::fuzz::ScratchFolder;

using Check = std::string (*)(QByteArrayView, const fs::path&);

struct Target {
    const char* name;  // the folder under fuzz/corpus and fuzz/regressions
    Check check;
};

const Target kTargets[] = {
    {"received_message", lumopet::fuzz::CheckReceivedMessage},
    {"settings_files", lumopet::fuzz::CheckSettingsFiles},
    {"records", lumopet::fuzz::CheckRecords},
    {"html_sanitizer", lumopet::fuzz::CheckHtmlSanitizer},
};

struct FuzzCase {
    std::string testName;
    fs::path file;
    Check check;
};

std::string testNameOf(const std::string& target, const std::string& kind, const std::string& file) {
    std::string name = target + "_" + kind + "_" + file;
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    if (!fs::is_directory(folder)) return files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<FuzzCase> AllCases() {
    std::vector<FuzzCase> cases;
    for (const Target& target : kTargets) {
        for (const char* kind : {"corpus", "regressions"}) {
            for (const fs::path& file : filesIn(fs::path(LUMOPET_FUZZ_DIR) / kind / target.name))
                cases.push_back({testNameOf(target.name, kind, file.filename()), file, target.check});
        }
    }
    return cases;
}

QByteArray ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    return QByteArray::fromStdString(bytes);
}

class FuzzCases : public testing::TestWithParam<FuzzCase> {};

TEST_P(FuzzCases, HoldsEveryRule) {
    const ScratchFolder scratch;
    const QByteArray input = ReadBytes(GetParam().file);
    EXPECT_EQ(GetParam().check(input, scratch.path()), "") << GetParam().file;
}

INSTANTIATE_TEST_SUITE_P(Files, FuzzCases, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<FuzzCase>& info) { return info.param.testName; });

// A folder renamed or emptied would let the cases above pass by running
// none: each target keeps a real corpus.
TEST(FuzzCorpus, EveryTargetHasSeeds) {
    for (const Target& target : kTargets)
        EXPECT_GE(filesIn(fs::path(LUMOPET_FUZZ_DIR) / "corpus" / target.name).size(), 5u) << target.name;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    lumopet::fuzz::PrepareReceivedMessageCheck();
    const int result = RUN_ALL_TESTS();
    lumopet::NMailEndWinSock();
    return result;
}
