// A full disk, and a data folder or data file that cannot be written: a
// write that cannot be made durable is refused with a 5xx JSON error and
// changes nothing, a folder or file the host cannot write stops the start
// with a clear message and is left as it was, and nothing acknowledged is
// lost.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "HostProcess.h"
#include "IntegrityCheck.h"
#include "LoopbackClient.h"
#include "TempFolder.h"

namespace {

using nlohmann::json;

constexpr int kSets = 8;  // databases 1 to 8 of the names infodriver
constexpr int kEntries = 128;
// Room the data files get to grow into before the disk is full: a handful
// of committed writes.
constexpr std::uint64_t kHeadroom = 256 * 1024;
// Writes tried before the test gives up waiting for the disk to fill; each
// goes to an entry of its own.
constexpr int kMostWrites = kSets * kEntries;
// Size of the small file system of the full-disk test: the data file, its
// write-ahead log, the headroom and a filler.
constexpr std::uint64_t kSmallDisk = 2 * 1024 * 1024;
// What panelhost exits with when its data folder or file cannot be used.
constexpr int kDataFileExit = 4;

using Key = std::pair<int, int>;  // database, index
using Names = std::map<Key, std::string>;

std::string entryPath(const Key& key) {
    return "/api/devices/12/databases/" + std::to_string(key.first) + "/" +
           std::to_string(key.second);
}

std::string contents(const std::filesystem::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

// Every name of sets 1 to 8.
Names readAll(LoopbackClient& client) {
    Names names;
    for (int database = 1; database <= kSets; ++database) {
        const auto result =
            client.http().Get("/api/devices/12/databases/" + std::to_string(database));
        EXPECT_TRUE(result && result->status == 200) << database;
        if (!result || result->status != 200) {
            continue;
        }
        const json body = json::parse(result->body);
        for (const json& entry : body["entries"]) {
            names[Key{database, entry["index"].get<int>()}] = entry["text"];
        }
    }
    return names;
}

// Starts a host on `data` once, so that it creates its files, and stops it.
void prepare(const std::filesystem::path& data, const std::filesystem::path& log) {
    HostProcess host(HostProcess::Setup(data), log);
    ASSERT_TRUE(host.waitUntilServing()) << host.output();
    ASSERT_EQ(host.stop(), 0) << host.output();
}

struct Filling {
    Names acknowledged;
    Key refused{0, 0};
    int status = 0;
    std::string body;
};

// Writes one entry after another until a write is refused.
Filling writeUntilRefused(LoopbackClient& client) {
    Filling filling;
    for (int n = 0; n < kMostWrites; ++n) {
        const Key key{n / kEntries + 1, n % kEntries + 1};
        const std::string text = "full " + std::to_string(n);
        const auto result =
            client.http().Put(entryPath(key), json{{"text", text}}.dump(), "application/json");
        if (!result) {
            ADD_FAILURE() << "write " << n << " was not answered";
            break;
        }
        if (result->status != 200) {
            filling.refused = key;
            filling.status = result->status;
            filling.body = result->body;
            break;
        }
        filling.acknowledged[key] = text;
    }
    return filling;
}

// Runs a host with the disk made full by `full`, then, after `makeRoom`,
// again with room: the write that did not fit was refused and is absent,
// every acknowledged one is there.
void expectFullDiskRefusal(const HostProcess::Setup& full, const std::function<void()>& makeRoom,
                           const std::filesystem::path& logs) {
    Names before;
    Filling filling;
    {
        HostProcess host(full, logs / "full.log");
        ASSERT_TRUE(host.waitUntilServing()) << host.output();
        LoopbackClient client(host);
        before = readAll(client);
        filling = writeUntilRefused(client);
        ASSERT_NE(filling.status, 0) << "the disk never filled up";
        EXPECT_EQ(filling.status, 500) << filling.body;
        const json error = json::parse(filling.body, nullptr, false);
        ASSERT_TRUE(error.is_object() && error.contains("error")) << filling.body;
        EXPECT_NE(error["error"].get<std::string>().find("panelhost.db"), std::string::npos)
            << filling.body;
        EXPECT_FALSE(filling.acknowledged.empty());
        // The refused write changed nothing, and the host still serves.
        EXPECT_EQ(readAll(client)[filling.refused], before[filling.refused]);
        EXPECT_EQ(host.stop(), 0) << host.output();
        EXPECT_NE(host.output().find(" was not stored: "), std::string::npos)
            << "the refused write is logged: " << host.output();
    }
    makeRoom();
    HostProcess host(HostProcess::Setup(full.data), logs / "after.log");
    ASSERT_TRUE(host.waitUntilServing()) << host.output();
    LoopbackClient client(host);
    const Names after = readAll(client);
    for (const auto& [key, text] : filling.acknowledged) {
        EXPECT_EQ(after.at(key), text) << "database " << key.first << " entry " << key.second;
    }
    EXPECT_EQ(after.at(filling.refused), before[filling.refused]);
    EXPECT_EQ(host.stop(), 0) << host.output();
    EXPECT_EQ(integrityCheck(full.data / "panelhost.db"), "ok");
}

// Takes write permission away from a file or folder for the object's life;
// restores it before the temporary folder is removed.
class ReadOnly {
  public:
    explicit ReadOnly(std::filesystem::path path)
        : path_(std::move(path)), saved_(std::filesystem::status(path_).permissions()) {
        std::filesystem::permissions(path_,
                                     std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_write |
                                         std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::remove);
    }
    ~ReadOnly() { restore(); }
    ReadOnly(const ReadOnly&) = delete;
    ReadOnly& operator=(const ReadOnly&) = delete;

    void restore() { std::filesystem::permissions(path_, saved_); }

  private:
    std::filesystem::path path_;
    std::filesystem::perms saved_;
};

// A small tmpfs mounted for the object's life; only root can mount one.
class SmallDisk {
  public:
    SmallDisk(const std::filesystem::path& where, std::uint64_t bytes) : where_(where) {
        std::filesystem::create_directories(where);
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = geteuid() == 0 && mount("tmpfs", where.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                                           options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) {
            umount2(where_.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }

    // Fills the disk with `file` until only `room` bytes are free.
    void fillUpTo(const std::filesystem::path& file, std::uint64_t room) const {
        struct statvfs disk {};
        ASSERT_EQ(statvfs(where_.c_str(), &disk), 0);
        const std::uint64_t free = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
        ASSERT_GT(free, room);
        std::ofstream(file, std::ios::binary) << std::string(free - room, 'x');
    }

  private:
    std::filesystem::path where_;
    bool mounted_ = false;
};

}  // namespace

TEST(HostStorage, AWriteBeyondTheFileSizeLimitIsRefusedAndNothingAcknowledgedIsLost) {
    TempFolder folder;
    const std::filesystem::path data = folder.path() / "data";
    prepare(data, folder.path() / "prepare.log");
    HostProcess::Setup full(data);
    full.fileSizeLimit = std::filesystem::file_size(data / "panelhost.db") + kHeadroom;
    expectFullDiskRefusal(
        full, [] {}, folder.path());
}

TEST(HostStorage, AFullFileSystemRefusesTheWriteAndNothingAcknowledgedIsLost) {
    TempFolder folder;
    const SmallDisk disk(folder.path() / "disk", kSmallDisk);
    if (!disk.mounted()) {
        GTEST_SKIP() << "a small file system can only be mounted as root";
    }
    const std::filesystem::path data = folder.path() / "disk" / "data";
    prepare(data, folder.path() / "prepare.log");
    const std::filesystem::path filler = folder.path() / "disk" / "filler";
    disk.fillUpTo(filler, kHeadroom);
    expectFullDiskRefusal(
        HostProcess::Setup(data), [&] { std::filesystem::remove(filler); }, folder.path());
}

TEST(HostStorage, AReadOnlyDataFolderStopsTheStartWithAClearMessage) {
    TempFolder folder;
    const std::filesystem::path data = folder.path() / "data";
    std::filesystem::create_directories(data);
    const ReadOnly guard(data);
    HostProcess::Setup setup(data);
    setup.obeyPermissions = true;
    HostProcess host(setup, folder.path() / "host.log");
    EXPECT_FALSE(host.waitUntilServing());
    EXPECT_EQ(host.exitCode(), kDataFileExit) << host.output();
    EXPECT_NE(host.output().find("the data folder cannot be written"), std::string::npos)
        << host.output();
    EXPECT_NE(host.output().find(data.string()), std::string::npos) << host.output();
    EXPECT_TRUE(std::filesystem::is_empty(data));
}

TEST(HostStorage, ADataFolderMadeReadOnlyStopsTheStartAndKeepsItsData) {
    TempFolder folder;
    const std::filesystem::path data = folder.path() / "data";
    {
        HostProcess host(HostProcess::Setup(data), folder.path() / "first.log");
        ASSERT_TRUE(host.waitUntilServing()) << host.output();
        LoopbackClient client(host);
        const auto written =
            client.http().Put(entryPath({5, 37}), R"({"text": "Kept"})", "application/json");
        ASSERT_TRUE(written && written->status == 200);
        ASSERT_EQ(host.stop(), 0);
    }
    const std::string before = contents(data / "panelhost.db");
    {
        ReadOnly guard(data);
        HostProcess::Setup setup(data);
        setup.obeyPermissions = true;
        HostProcess host(setup, folder.path() / "refused.log");
        EXPECT_FALSE(host.waitUntilServing());
        EXPECT_EQ(host.exitCode(), kDataFileExit) << host.output();
        EXPECT_NE(host.output().find("the data folder cannot be written"), std::string::npos)
            << host.output();
    }
    EXPECT_EQ(contents(data / "panelhost.db"), before);

    HostProcess host(HostProcess::Setup(data), folder.path() / "again.log");
    ASSERT_TRUE(host.waitUntilServing()) << host.output();
    LoopbackClient client(host);
    const auto kept = client.http().Get(entryPath({5, 37}));
    ASSERT_TRUE(kept);
    EXPECT_EQ(json::parse(kept->body)["text"], "Kept");
}

TEST(HostStorage, AReadOnlyDataFileStopsTheStartWithAClearMessage) {
    TempFolder folder;
    const std::filesystem::path data = folder.path() / "data";
    prepare(data, folder.path() / "prepare.log");
    const std::string before = contents(data / "panelhost.db");
    const ReadOnly guard(data / "panelhost.db");
    HostProcess::Setup setup(data);
    setup.obeyPermissions = true;
    HostProcess host(setup, folder.path() / "host.log");
    EXPECT_FALSE(host.waitUntilServing());
    EXPECT_EQ(host.exitCode(), kDataFileExit) << host.output();
    EXPECT_NE(host.output().find("panelhost.db: cannot be written"), std::string::npos)
        << host.output();
    EXPECT_EQ(contents(data / "panelhost.db"), before);
}
