// The texts the service reads and writes for its operators: the
// configuration file and the metrics page.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "PrometheusText.h"
#include "TempFolder.h"

using panelhost::ConfigFile;
using panelhost::ConfigFileError;
using panelhost::PrometheusText;

namespace {

// A command line with one option of every shape the program has.
struct Settings {
    CLI::App app;
    int port = 8080;
    std::string bind = "127.0.0.1";
    std::string data;
    std::vector<std::string> targets;
    bool verbose = false;
    bool capture = true;

    Settings() {
        app.add_option("--config", data, "not a key");
        app.add_option("--port", port, "port")->check(CLI::Range(0, 65535))->capture_default_str();
        app.add_option("--bind", bind, "address")->capture_default_str();
        app.add_option("--data", data, "folder");
        app.add_option("--tsl", targets, "targets");
        app.add_flag("--verbose", verbose, "more lines");
        app.add_flag("!--no-capture", capture, "leave standard error alone");
    }

    void parse(std::vector<std::string> arguments) {
        std::reverse(arguments.begin(), arguments.end());
        app.parse(arguments);
    }
};

}  // namespace

TEST(ConfigFile, KeysSetOptionsTheCommandLineLeftAndPrintedSettingsReadBackTheSame) {
    TempFolder folder;
    const auto file = folder.write("panelhost.toml", R"(# studio B
port = 9000
bind = "0.0.0.0"
tsl = ["udp:10.0.0.5:8900", "serial:/dev/ttyS0,baud=9600"]
verbose = true
no-capture = true
data = "/srv/panel \"B\""
)");
    Settings settings;
    settings.parse({"--port", "9100"});
    ConfigFile::apply(settings.app, file);
    EXPECT_EQ(settings.port, 9100) << "the command line wins";
    EXPECT_EQ(settings.bind, "0.0.0.0");
    EXPECT_EQ(settings.targets,
              (std::vector<std::string>{"udp:10.0.0.5:8900", "serial:/dev/ttyS0,baud=9600"}));
    EXPECT_TRUE(settings.verbose);
    EXPECT_FALSE(settings.capture);
    EXPECT_EQ(settings.data, "/srv/panel \"B\"");

    std::ostringstream printed;
    ConfigFile::print(settings.app, printed);
    EXPECT_EQ(printed.str().find("config ="), std::string::npos) << printed.str();
    Settings again;
    again.parse({});
    ConfigFile::apply(again.app, folder.write("printed.toml", printed.str()));
    EXPECT_EQ(ConfigFile::values(again.app), ConfigFile::values(settings.app)) << printed.str();
    EXPECT_EQ(again.port, 9100);
    EXPECT_EQ(again.data, settings.data);
    EXPECT_FALSE(again.capture);

    Settings defaults;
    defaults.parse({});
    const auto values = ConfigFile::values(defaults.app);
    EXPECT_EQ(values.at("port"), "8080");
    EXPECT_EQ(values.at("bind"), "\"127.0.0.1\"");
    EXPECT_EQ(values.at("no-capture"), "false");
    EXPECT_EQ(values.count("data"), 0U) << "no value, no key";
}

TEST(ConfigFile, ABadFileIsRefusedWithItsLineAndReason) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"port = 9000\n\ncolour = \"blue\"\n", ":3: unknown key \"colour\""},
        {"config = \"/etc/other.toml\"\n", ":1: unknown key \"config\""},
        {"port = 70000\n", ":1: port: Value 70000 not in range"},
        {"port = \"many\"\n", ":1: port: "},
        {"port = [1, 2]\n", ":1: port takes one value, not a list"},
        {"verbose = \"yes\"\n", ":1: verbose must be true or false"},
        {"tsl = [[\"udp:a:1\"]]\n", ":1: tsl: a list of texts is expected"},
        {"# fine\n[studio]\nport = 1\n", ":2: sections are not used"},
        {"port = 1\nbind = \n", ":2: "},
    };
    TempFolder folder;
    for (const Case& bad : cases) {
        const auto file = folder.write("bad.toml", bad.text);
        Settings settings;
        settings.parse({});
        try {
            ConfigFile::apply(settings.app, file);
            ADD_FAILURE() << "accepted: " << bad.text;
        } catch (const ConfigFileError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind(file.string() + bad.expected, 0), 0U)
                << bad.text << " -> " << message;
        }
    }
    Settings settings;
    settings.parse({});
    EXPECT_THROW(ConfigFile::apply(settings.app, folder.path() / "missing.toml"), ConfigFileError);
}

TEST(PrometheusText, EscapesLabelsAndHelpAndWritesCumulativeBuckets) {
    PrometheusText page;
    page.family("panelhost_x_total", "counter", "line one\nback\\slash \"quoted\"");
    page.sample("panelhost_x_total", {{"target", "serial:C:\\com1 \"A\"\nnext"}}, std::uint64_t{3});
    panelhost::LatencyHistogram latency;
    latency.record(std::chrono::microseconds(100));
    latency.record(std::chrono::milliseconds(3));
    latency.record(std::chrono::seconds(9));
    page.family("panelhost_t_seconds", "histogram", "time");
    page.histogram("panelhost_t_seconds", {{"route", "/api"}}, latency.read());
    const std::string& text = page.text();
    EXPECT_NE(text.find("# HELP panelhost_x_total line one\\nback\\\\slash \"quoted\"\n"
                        "# TYPE panelhost_x_total counter\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("panelhost_x_total{target=\"serial:C:\\\\com1 \\\"A\\\"\\nnext\"} 3\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("panelhost_t_seconds_bucket{route=\"/api\",le=\"0.0005\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("panelhost_t_seconds_bucket{route=\"/api\",le=\"0.005\"} 2\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("panelhost_t_seconds_bucket{route=\"/api\",le=\"5\"} 2\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("panelhost_t_seconds_bucket{route=\"/api\",le=\"+Inf\"} 3\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("panelhost_t_seconds_sum{route=\"/api\"} 9.0031\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("panelhost_t_seconds_count{route=\"/api\"} 3\n"), std::string::npos)
        << text;
}
