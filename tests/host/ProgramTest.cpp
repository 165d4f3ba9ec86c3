// The panelhost program as a user runs it: options, exit codes, messages.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "HostApplication.h"
#include "SqliteAccountStore.h"
#include "TempFolder.h"
#include "TestCertificate.h"

namespace {

struct Outcome {
    int exitCode;
    std::string output;
};

// How long a run may take: a host that serves when it should have refused
// to start is ended then, and the test fails instead of waiting for ever.
constexpr int kLongestRunSeconds = 60;

// Runs the panelhost program with `arguments`, standard error joined to the
// output and `input` (one line) on standard input. An empty configuration
// file stands in for the machine's own, unless the test names one.
Outcome runPanelhost(const std::string& arguments, const std::string& input = "") {
    const std::string config =
        arguments.find("--config") == std::string::npos ? " --config /dev/null" : "";
    const std::string command = "printf '%s\\n' '" + input + "' | timeout " +
                                std::to_string(kLongestRunSeconds) + " " + PANELHOST_PROGRAM +
                                config + " " + arguments + " 2>&1";
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
    const Outcome run = runPanelhost("--help");
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option :
         {"--plugin", "--layouts", "--data", "--devices", "--bind", "--port", "--panels",
          "--allow-host", "--session-idle", "--tls-cert", "--tls-key", "--store", "--host-name",
          "export-set", "import-set", "user", "token"}) {
        EXPECT_NE(run.output.find(option), std::string::npos) << option;
    }
    // The server keeps 63 characters of a connection's name: a longer host
    // name would show cut to the other hosts.
    const Outcome longName =
        runPanelhost("--host-name " + std::string(64, 'h') + " --print-config");
    EXPECT_NE(longName.exitCode, 0);
    EXPECT_NE(longName.output.find("--host-name: must be 1 to 63 characters"), std::string::npos)
        << longName.output;
    const Outcome named = runPanelhost("--host-name mcr-a --print-config");
    EXPECT_NE(named.output.find("\nhost-name = \"mcr-a\"\n"), std::string::npos) << named.output;
}

TEST(Program, EveryOptionHasAKeyInTheConfigurationFile) {
    TempFolder folder;
    const Outcome help = runPanelhost("--help");
    const auto config = folder.write("panelhost.toml", "port = 9123\n");
    const Outcome printed = runPanelhost("--config " + config.string() + " --print-config");
    EXPECT_EQ(printed.exitCode, 0) << printed.output;
    EXPECT_NE(printed.output.find("\nport = 9123\n"), std::string::npos) << printed.output;
    std::istringstream lines(help.output);
    int options = 0;
    for (std::string line; std::getline(lines, line);) {
        // An option's own line: "  --port INT..." or "  -h,--help ...".
        const auto dashes = line.find("--");
        if (line.rfind("  -", 0) != 0 || dashes == std::string::npos) {
            continue;
        }
        const auto end = line.find_first_of(" ,={", dashes);
        const std::string key = line.substr(dashes + 2, end - dashes - 2);
        if (key == "help" || key == "config" || key == "print-config") {
            continue;
        }
        ++options;
        EXPECT_TRUE(printed.output.find("\n" + key + " = ") != std::string::npos ||
                    printed.output.find("# " + key + " is not set") != std::string::npos)
            << key << "\n"
            << printed.output;
    }
    EXPECT_GT(options, 15);
}

TEST(Program, APluginThatCannotBeLoadedStopsTheStart) {
    TempFolder data;
    const Outcome run = runPanelhost("--data " + data.path().string() + " --port 0 --plugin " +
                                     (data.path() / "none.so").string());
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_NE(run.output.find("none.so cannot be loaded"), std::string::npos) << run.output;
}

TEST(Program, AForeignDataFileStopsTheStartAndIsKept) {
    TempFolder data;
    const auto file = data.write("panelhost.db", "my shopping list\n");
    const Outcome run = runPanelhost("--data " + data.path().string() + " --port 0");
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(run.output.find("is not a panelhost data file"), std::string::npos) << run.output;
    EXPECT_EQ(contents(file), "my shopping list\n");
}

TEST(Program, ABrokenDeviceConfigurationStopsTheStart) {
    TempFolder data;
    const auto devices = data.write("devices.json", R"({"devices": [{"name": "X"}]})");
    const Outcome run = runPanelhost("--data " + data.path().string() + " --port 0");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.output.find("devices.json"), std::string::npos) << run.output;
}

TEST(Program, AMissingLayoutFolderStopsTheStart) {
    TempFolder data;
    const Outcome run = runPanelhost("--data " + data.path().string() + " --port 0 --layouts " +
                                     (data.path() / "nowhere").string());
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.output.find("nowhere does not exist"), std::string::npos) << run.output;
}

TEST(Program, NameSetsGoOutAndComeInAsCsv) {
    TempFolder data;
    const std::string where = "--data " + data.path().string();
    const Outcome exported = runPanelhost("export-set --set 3 " + where);
    EXPECT_EQ(exported.exitCode, 0) << exported.output;
    EXPECT_EQ(exported.output.rfind("source,name\n1,News Cam 1\n", 0), 0u) << exported.output;

    const auto bad = data.write("bad.csv", "1,Anchor\n2,This name is far too long\n");
    const Outcome refused =
        runPanelhost("import-set --set 3 --input " + bad.string() + " " + where);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.output.find("line 1: source 1 \"Anchor\""), std::string::npos);
    EXPECT_NE(refused.output.find("line 2: name \"This name is far too long\" is longer than 16"),
              std::string::npos);

    const auto good = data.write("good.csv", "source,name\n1,Anchor\n");
    const Outcome imported =
        runPanelhost("import-set --set 3 --input " + good.string() + " " + where);
    EXPECT_EQ(imported.exitCode, 0) << imported.output;
    EXPECT_EQ(
        runPanelhost("export-set --set 3 " + where).output.rfind("source,name\n1,Anchor\n2,", 0),
        0u);
}

TEST(Program, NameSetsGoThroughTheHostRunningOnTheDataFolder) {
    TempFolder data;
    panelhost::HostOptions options;
    options.plugin = PANELHOST_PLUGIN;
    options.layouts = PANELHOST_LAYOUTS;
    options.web = PANELHOST_WEB;
    options.data = data.path();
    options.port = 0;
    options.consoleLog = false;
    const std::string where = " --data " + data.path().string();
    {
        panelhost::HostApplication host(options);
        const auto bad = data.write("bad.csv", "1,Anchor\n200,Far away\n");
        const Outcome anonymous =
            runPanelhost("import-set --set 3 --input " + bad.string() + where);
        EXPECT_EQ(anonymous.exitCode, 1);
        EXPECT_NE(anonymous.output.find("--token"), std::string::npos) << anonymous.output;

        const Outcome token = runPanelhost("token create --role engineer --name sets" + where);
        ASSERT_EQ(token.exitCode, 0) << token.output;
        const std::string withToken =
            " --token " + token.output.substr(0, token.output.find_first_of("\r\n")) + where;
        const Outcome refused =
            runPanelhost("import-set --set 3 --input " + bad.string() + withToken);
        EXPECT_EQ(refused.exitCode, 2) << refused.output;
        EXPECT_NE(refused.output.find("line 2: source \"200\" is not a number from 1 to 128"),
                  std::string::npos)
            << refused.output;

        const auto good = data.write("good.csv", "source,name\n1,Anchor\n2,\"Smith, J\"\n");
        const Outcome imported =
            runPanelhost("import-set --set 3 --input " + good.string() + withToken);
        EXPECT_EQ(imported.exitCode, 0) << imported.output;
        EXPECT_NE(imported.output.find("2 names written to name set 3 of "
                                       "\"StC_UMD_Names_DriverID\" through the running panelhost"),
                  std::string::npos)
            << imported.output;
        const Outcome exported = runPanelhost("export-set --set 3" + withToken);
        EXPECT_EQ(exported.output.rfind("source,name\n1,Anchor\n2,\"Smith, J\"\n3,News Cam 3\n", 0),
                  0u)
            << exported.output;
    }
    // Once the host has gone, the commands open the data file themselves.
    const Outcome offline = runPanelhost("export-set --set 3" + where);
    EXPECT_EQ(offline.output.rfind("source,name\n1,Anchor\n", 0), 0u) << offline.output;
}

TEST(Program, AccountsAreManagedWhileTheHostRunsOnTheDataFolder) {
    TempFolder data;
    panelhost::HostOptions options;
    options.plugin = PANELHOST_PLUGIN;
    options.layouts = PANELHOST_LAYOUTS;
    options.web = PANELHOST_WEB;
    options.data = data.path();
    options.port = 0;
    options.consoleLog = false;
    panelhost::HostApplication host(options);
    ASSERT_TRUE(host.loginLink());
    const std::string where = " --data " + data.path().string();

    const Outcome added =
        runPanelhost("user add gallery --role operator" + where, "a long password");
    EXPECT_EQ(added.exitCode, 0) << added.output;
    const Outcome listed = runPanelhost("user list" + where);
    EXPECT_EQ(listed.exitCode, 0) << listed.output;
    EXPECT_NE(listed.output.find("gallery  operator  set"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("admin"), std::string::npos) << listed.output;
    EXPECT_EQ(listed.output.find("a long password"), std::string::npos);

    const Outcome token = runPanelhost("token create --role viewer --name monitoring" + where);
    EXPECT_EQ(token.exitCode, 0) << token.output;
    EXPECT_EQ(token.output.rfind("pht_", 0), 0u) << token.output;
    EXPECT_NE(runPanelhost("token list" + where).output.find("monitoring  viewer"),
              std::string::npos);

    const Outcome promoted = runPanelhost("user role gallery engineer" + where);
    EXPECT_EQ(promoted.exitCode, 0) << promoted.output;
    EXPECT_NE(runPanelhost("user list" + where).output.find("gallery  engineer"),
              std::string::npos);
    const Outcome lastAdmin = runPanelhost("user role admin viewer" + where);
    EXPECT_EQ(lastAdmin.exitCode, 1);
    EXPECT_NE(lastAdmin.output.find("last admin"), std::string::npos) << lastAdmin.output;
    EXPECT_NE(runPanelhost("user role gallery king" + where).exitCode, 0);
    // The history names the command line as who made the change.
    const auto changes = panelhost::SqliteAccountStore(data.path() / "panelhost.db").changes(0, 1);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].action, "role-changed");
    EXPECT_EQ(changes[0].detail, "from operator to engineer");
    EXPECT_EQ(changes[0].actor.rfind("panelhost user (", 0), 0u) << changes[0].actor;
    EXPECT_EQ(changes[0].address, "command line");

    const Outcome weak = runPanelhost("user passwd gallery" + where, "short");
    EXPECT_EQ(weak.exitCode, 1);
    EXPECT_NE(weak.output.find("at least 8 characters"), std::string::npos) << weak.output;
    EXPECT_EQ(runPanelhost("user remove gallery" + where).exitCode, 0);
    EXPECT_EQ(runPanelhost("user remove gallery" + where).exitCode, 1);
    EXPECT_NE(runPanelhost("user add x --role king" + where, "a long password").exitCode, 0);
    EXPECT_NE(runPanelhost("user add --help").output.find("--role"), std::string::npos);
}

TEST(Program, ANetworkStartWithoutAnyPasswordIsRefused) {
    TempFolder data;
    const std::string where = "--data " + data.path().string() + " --port 0";
    const Outcome refused = runPanelhost(where + " --bind 0.0.0.0");
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_NE(refused.output.find("refusing to serve on 0.0.0.0: no account has a password"),
              std::string::npos)
        << refused.output;
    EXPECT_EQ(runPanelhost("user passwd admin " + where.substr(0, where.find(" --port")),
                           "a long password")
                  .exitCode,
              0);
}

TEST(Program, ACertificateOrKeyThatCannotBeUsedStopsTheStart) {
    TempFolder data;
    const std::filesystem::path notPem = data.path() / "cert.pem";
    std::ofstream(notPem) << "not a certificate\n";
    // Private as a key must be, so that only its contents are wrong.
    std::filesystem::permissions(
        notPem, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const std::string where = "--data " + data.path().string() + " --port 0";
    const Outcome broken =
        runPanelhost(where + " --tls-cert " + notPem.string() + " --tls-key " + notPem.string());
    EXPECT_EQ(broken.exitCode, 3);
    EXPECT_NE(broken.output.find("cert.pem: not a usable certificate chain"), std::string::npos)
        << broken.output;
    EXPECT_NE(runPanelhost(where + " --tls-cert " + notPem.string()).exitCode, 0);
}

TEST(Program, AKeyFileOthersMayReadStopsTheStartBeforeAnythingIsOpened) {
    TempFolder folder;
    const TestCertificate certificate(folder.path());
    const std::filesystem::path data = folder.path() / "data";
    const std::string where = "--data " + data.string() + " --port 0 --tls-cert " +
                              certificate.certificate.string() + " --tls-key " +
                              certificate.key.string();
    for (const auto& [mode, shown] : {std::pair{0640, "0640"}, {0604, "0604"}}) {
        std::filesystem::permissions(certificate.key, static_cast<std::filesystem::perms>(mode));
        const Outcome refused = runPanelhost(where);
        EXPECT_EQ(refused.exitCode, 3) << shown << ": " << refused.output;
        EXPECT_NE(refused.output.find(certificate.key.string() + ": permissions " + shown +
                                      " are too open"),
                  std::string::npos)
            << refused.output;
        EXPECT_NE(refused.output.find("chmod 600 " + certificate.key.string()), std::string::npos)
            << refused.output;
        EXPECT_FALSE(std::filesystem::exists(data / "panelhost.db")) << shown;
    }
}
