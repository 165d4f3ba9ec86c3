// The panelhost program as a user runs it: options, exit codes, messages.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "TempFolder.h"

namespace {

struct Outcome {
    int exitCode;
    std::string output;
};

// Runs panelhost with `arguments`, standard error joined to the output.
Outcome panelhost(const std::string& arguments) {
    const std::string command = std::string(PANELHOST_PROGRAM) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    std::array<char, 4096> chunk{};
    std::size_t count = 0;
    while ((count = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        output.append(chunk.data(), count);
    }
    const int status = pclose(pipe);
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string contents(const std::filesystem::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

}  // namespace

TEST(Program, HelpNamesEveryOption) {
    const Outcome run = panelhost("--help");
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option : {"--plugin", "--layouts", "--data", "--devices", "--bind", "--port",
                               "--panels", "export-set", "import-set"}) {
        EXPECT_NE(run.output.find(option), std::string::npos) << option;
    }
}

TEST(Program, APluginThatCannotBeLoadedStopsTheStart) {
    TempFolder data;
    const Outcome run = panelhost("--data " + data.path().string() + " --port 0 --plugin " +
                                  (data.path() / "none.so").string());
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_NE(run.output.find("none.so cannot be loaded"), std::string::npos) << run.output;
}

TEST(Program, AForeignDataFileStopsTheStartAndIsKept) {
    TempFolder data;
    const auto file = data.write("panelhost.db", "my shopping list\n");
    const Outcome run = panelhost("--data " + data.path().string() + " --port 0");
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(run.output.find("is not a panelhost data file"), std::string::npos) << run.output;
    EXPECT_EQ(contents(file), "my shopping list\n");
}

TEST(Program, ABrokenDeviceConfigurationStopsTheStart) {
    TempFolder data;
    const auto devices = data.write("devices.json", R"({"devices": [{"name": "X"}]})");
    const Outcome run = panelhost("--data " + data.path().string() + " --port 0");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.output.find("devices.json"), std::string::npos) << run.output;
}

TEST(Program, AMissingLayoutFolderStopsTheStart) {
    TempFolder data;
    const Outcome run = panelhost("--data " + data.path().string() + " --port 0 --layouts " +
                                  (data.path() / "nowhere").string());
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.output.find("nowhere does not exist"), std::string::npos) << run.output;
}

TEST(Program, NameSetsGoOutAndComeInAsCsv) {
    TempFolder data;
    const std::string where = "--data " + data.path().string();
    const Outcome exported = panelhost("export-set --set 3 " + where);
    EXPECT_EQ(exported.exitCode, 0) << exported.output;
    EXPECT_EQ(exported.output.rfind("source,name\n1,News Cam 1\n", 0), 0u) << exported.output;

    const auto bad = data.write("bad.csv", "1,Anchor\n2,This name is far too long\n");
    const Outcome refused = panelhost("import-set --set 3 --input " + bad.string() + " " + where);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.output.find("line 1: source 1 \"Anchor\""), std::string::npos);
    EXPECT_NE(refused.output.find("line 2: name \"This name is far too long\" is longer than 16"),
              std::string::npos);

    const auto good = data.write("good.csv", "source,name\n1,Anchor\n");
    const Outcome imported = panelhost("import-set --set 3 --input " + good.string() + " " + where);
    EXPECT_EQ(imported.exitCode, 0) << imported.output;
    EXPECT_EQ(panelhost("export-set --set 3 " + where).output.rfind("source,name\n1,Anchor\n2,", 0),
              0u);
}
