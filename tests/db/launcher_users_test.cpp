// Background launches by two local users: what one user leaves under the names that the launcher
// uses in /tmp neither blocks, nor reads, nor redirects the other's jobs; the lock and the report
// of a failed run still work; a state folder that fails its check is named on the launch's output
// and nothing falls back to a shared place. The program runs as each user through setpriv.

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "process_library/launcher.h"
#include "support.h"

namespace {

using namespace zor_test;
namespace fs = std::filesystem;

constexpr uid_t OTHER_UID = 65534;  // nobody

std::string plain_folder(uid_t uid) { return "/tmp/zor_clientes_postgres-" + std::to_string(uid); }

// Entries of /tmp that belong to the launcher's names for `uid`: the plain folder, the private
// folders beside it, and the lock and log names of earlier versions.
std::vector<fs::path> launcher_entries(uid_t uid) {
    const std::string base = fs::path(plain_folder(uid)).filename().string();
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator("/tmp")) {
        const std::string name = entry.path().filename().string();
        if (name == base || name.rfind(base + ".", 0) == 0 || name.rfind(base + "-", 0) == 0) found.push_back(entry.path());
    }
    return found;
}

// A user id with no account and no launcher files in /tmp: each run of the suite has a victim of
// its own, so that runs side by side never share a state folder.
uid_t fresh_uid() {
    for (uid_t uid = 61000 + static_cast<uid_t>(getpid() % 4000);; ++uid) {
        if (getpwuid(uid) == nullptr && launcher_entries(uid).empty()) return uid;
    }
}

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// What another user made under the launcher's names, with the contents of its folders: it must
// be the same after the victim's launches.
std::vector<std::string> others_entries(uid_t victim) {
    std::vector<std::string> seen;
    for (const fs::path& path : launcher_entries(victim)) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || st.st_uid == victim) continue;
        seen.push_back(path.string() + " " + std::to_string(st.st_mode) + " " + std::to_string(st.st_size));
        if (S_ISDIR(st.st_mode)) {
            for (const auto& inner : fs::directory_iterator(path)) seen.push_back(inner.path().string());
        }
    }
    std::sort(seen.begin(), seen.end());
    return seen;
}

class TwoUsers : public ::testing::Test {
  protected:
    // A copy of the program where every user may run it: the build tree may be closed to them.
    static inline std::string bin_dir_;
    static inline std::string program_;

    static void SetUpTestSuite() {
        if (geteuid() != 0) return;
        char dir[] = "/tmp/zor-test-bin-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        bin_dir_ = dir;
        program_ = bin_dir_ + "/zor_clientes_postgres";
        fs::copy_file(program(), program_);
        chmod(dir, 0755);
        chmod(program_.c_str(), 0755);
    }
    static void TearDownTestSuite() {
        if (!bin_dir_.empty()) fs::remove_all(bin_dir_);
    }

    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "the program is run as two other users, which needs root";
        victim_ = fresh_uid();
        static int counter = 0;
        identification_ = "zor-users-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    }

    void TearDown() override {
        if (victim_ == 0) return;
        server_.stop();
        // Whatever happened, leave no job behind.
        for (uid_t uid : {victim_, OTHER_UID, uid_t{0}}) wait_until([&] { return jobs(uid).empty(); }, 30);
        for (const fs::path& path : launcher_entries(victim_)) fs::remove_all(path);
        for (const std::string& path : scratch_) fs::remove_all(path);
        for (uid_t uid : {OTHER_UID, uid_t{0}}) {
            std::error_code ec;
            const std::string folder = zor_folder_of_user(uid);
            if (!folder.empty()) {
                fs::remove(folder + "/" + zor::job_file_stem(identification_) + ".lock", ec);
                fs::remove(folder + "/" + zor::job_file_stem(identification_) + ".log", ec);
            }
        }
    }

    // The command that runs `argv` as `uid` with XDG_RUNTIME_DIR unset, or set to `runtime`.
    static std::vector<std::string> as_user(uid_t uid, const std::vector<std::string>& argv,
                                            const std::string& runtime = "") {
        std::vector<std::string> cmd = {"/usr/bin/env", "-u", "XDG_RUNTIME_DIR"};
        if (!runtime.empty()) cmd.push_back("XDG_RUNTIME_DIR=" + runtime);
        const std::string id = std::to_string(uid);
        for (const std::string& part : {std::string("setpriv"), "--reuid=" + id, "--regid=" + id,
                                         std::string("--clear-groups"), std::string("--")}) {
            cmd.push_back(part);
        }
        cmd.insert(cmd.end(), argv.begin(), argv.end());
        return cmd;
    }

    static void shell_as(uid_t uid, const std::string& script) {
        const ProcessResult r = run_process(as_user(uid, {"/bin/sh", "-ec", script}), 30);
        ASSERT_EQ(r.status, 0) << script << "\n" << r.out << r.err;
    }

    ProcessResult launch_as(uid_t uid, const std::string& runtime = "") const {
        std::vector<std::string> argv = {program_,    "launch_discovery_clientes", "erp host", "127.0.0.1",
                                         server_.port(), "erp", "erp_user", "senha-erp", "", "127.0.0.1",
                                         server_.port(), "store", "store_user", "senha-store", identification_};
        return run_process(as_user(uid, argv, runtime), 30);
    }

    // Background jobs of this test's identification that run as `uid`.
    std::vector<int> jobs(uid_t uid) const {
        std::vector<int> pids;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/proc", ec)) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            const std::vector<std::string> args = proc_cmdline(std::stoi(name));
            struct stat st {};
            if (args.size() == 15 && args[1] == "discovery_clientes" && args.back() == identification_ &&
                stat(entry.path().c_str(), &st) == 0 && st.st_uid == uid) {
                pids.push_back(std::stoi(name));
            }
        }
        return pids;
    }

    // Starts a job of `uid` and waits until it is in its first connection; returns its pid.
    int start_job(uid_t uid, const std::string& runtime = "") {
        const int accepted = server_.accepted();
        const ProcessResult r = launch_as(uid, runtime);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out + r.err, "");
        std::vector<int> pids;
        if (!wait_until([&] { return !(pids = jobs(uid)).empty(); }, 10)) return -1;
        EXPECT_TRUE(wait_until([&] { return server_.accepted() > accepted; }, 20));
        return pids.front();
    }

    // The folder of a running job's lock (descriptor 4), which also holds its output.
    static std::string job_folder(int pid) {
        std::error_code ec;
        const fs::path lock = fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/4", ec);
        const fs::path log = fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/1", ec);
        EXPECT_EQ(lock.parent_path(), log.parent_path()) << lock << " " << log;
        return lock.parent_path().string();
    }

    // The state folder that a launch of `uid` without XDG_RUNTIME_DIR uses, if it has one yet.
    static std::string zor_folder_of_user(uid_t uid) {
        struct stat st {};
        const std::string plain = plain_folder(uid);
        if (lstat(plain.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid) return plain;
        return "";
    }

    static void expect_private_folder_of(const std::string& folder, uid_t uid) {
        struct stat st {};
        ASSERT_EQ(lstat(folder.c_str(), &st), 0) << folder;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << folder;
        EXPECT_EQ(st.st_uid, uid) << folder;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << folder;
        EXPECT_EQ(fs::canonical(folder).string(), folder) << "a link on the way to " << folder;
    }

    // A folder for the test's own use, removed at the end.
    std::string scratch(uid_t owner, mode_t mode) {
        char dir[] = "/tmp/zor-test-scratch-XXXXXX";
        EXPECT_NE(mkdtemp(dir), nullptr);
        scratch_.push_back(dir);
        EXPECT_EQ(chown(dir, owner, owner), 0);
        EXPECT_EQ(chmod(dir, mode), 0);
        return dir;
    }

    SilentServer server_;
    uid_t victim_ = 0;
    std::string identification_;
    std::vector<std::string> scratch_;
};

// ---------------------------------------------------------------------------------------------
// Things planted by another user

// What the other user has at hand: the victim's plain folder name and its job's file names,
// a file and a folder of the victim's elsewhere.
struct Targets {
    std::string base;         // the victim's plain state folder in /tmp
    std::string old_base;     // the lock and log names of earlier versions, without the ending
    std::string stem;         // the job's file names inside a state folder, without the ending
    std::string victim_file;  // a file of the victim, "original" inside
    std::string victim_dir;   // an empty folder of the victim, mode 0700
};

struct PlantCase {
    const char* name;
    std::string (*script)(const Targets&);  // run by the other user
};

const PlantCase PLANT_CASES[] = {
    {"AFile", [](const Targets& t) { return "umask 077; : > " + t.base; }},
    {"ALinkToAFileOfTheVictim", [](const Targets& t) { return "ln -s " + t.victim_file + " " + t.base; }},
    {"ALinkToAFolderOfTheVictim", [](const Targets& t) { return "ln -s " + t.victim_dir + " " + t.base; }},
    {"AFolder", [](const Targets& t) { return "mkdir -m 700 " + t.base; }},
    {"AFolderOfMode0777WithTheJobsFiles",
     [](const Targets& t) {
         return "mkdir " + t.base + "; chmod 777 " + t.base + "; : > " + t.base + "/" + t.stem + ".lock; ln -s " +
                t.victim_file + " " + t.base + "/" + t.stem + ".log";
     }},
    {"TheLockAndLogOfEarlierVersions",
     [](const Targets& t) { return "umask 077; : > " + t.old_base + ".lock; : > " + t.old_base + ".log"; }},
    {"ThePrivateFolderNamesToo",
     [](const Targets& t) {
         return "umask 077; : > " + t.base + "; mkdir " + t.base + ".000000; chmod 777 " + t.base + ".000000; ln -s " +
                t.victim_dir + " " + t.base + ".000001";
     }},
};

void PrintTo(const PlantCase& c, std::ostream* os) { *os << c.name; }

class PlantedByAnotherUser : public TwoUsers, public ::testing::WithParamInterface<PlantCase> {};

TEST_P(PlantedByAnotherUser, NeitherBlocksNorRedirectsTheVictimsJobs) {
    const std::string victim_home = scratch(victim_, 0755);
    const Targets targets{plain_folder(victim_),
                          plain_folder(victim_) + "-" + zor::job_file_stem(identification_),
                          zor::job_file_stem(identification_), victim_home + "/file", victim_home + "/folder"};
    shell_as(victim_, "umask 077; printf original > " + targets.victim_file + "; mkdir " + targets.victim_dir);
    shell_as(OTHER_UID, GetParam().script(targets));
    const std::vector<std::string> planted = others_entries(victim_);
    ASSERT_FALSE(planted.empty());

    // The launch starts the victim's job, with its files in a private folder of the victim's.
    const int pid = start_job(victim_);
    ASSERT_GT(pid, 0) << "no background job of the victim";
    const std::string folder = job_folder(pid);
    expect_private_folder_of(folder, victim_);
    EXPECT_TRUE(folder == targets.base || folder.rfind(targets.base + ".", 0) == 0) << folder;

    // While it runs, a second launch starts nothing.
    const ProcessResult busy = launch_as(victim_);
    EXPECT_EQ(busy.status, 0);
    EXPECT_EQ(busy.out + busy.err, "");
    EXPECT_FALSE(wait_until([&] { return jobs(victim_).size() > 1 || server_.accepted() > 1; }, 2));

    // Nothing was written through what the other user planted, nor was it changed.
    EXPECT_EQ(read_text(targets.victim_file), "original");
    EXPECT_TRUE(fs::is_empty(targets.victim_dir));
    EXPECT_EQ(others_entries(victim_), planted);

    // The job fails once the server goes away; the next launch reports it.
    server_.stop();
    ASSERT_TRUE(wait_until([&] { return jobs(victim_).empty(); }, 30)) << "the job did not end";
    const ProcessResult next = launch_as(victim_);
    EXPECT_EQ(next.status, 0);
    EXPECT_NE(next.out.find("zor_clientes_postgres: erro:"), std::string::npos) << next.out << next.err;
    EXPECT_EQ(others_entries(victim_), planted);
}

INSTANTIATE_TEST_SUITE_P(Launcher, PlantedByAnotherUser, ::testing::ValuesIn(PLANT_CASES),
                         [](const ::testing::TestParamInfo<PlantCase>& param_info) { return param_info.param.name; });

TEST_F(TwoUsers, JobsOfOtherUsersForTheSameIdentificationDoNotBlock) {
    // Root, by hand, and the other user each have a job of this identification running.
    for (uid_t uid : {uid_t{0}, OTHER_UID}) {
        SCOPED_TRACE("uid " + std::to_string(uid));
        ASSERT_GT(start_job(uid), 0);
    }
    const int pid = start_job(victim_);
    ASSERT_GT(pid, 0) << "the victim's job did not start";
    expect_private_folder_of(job_folder(pid), victim_);
    for (uid_t uid : {uid_t{0}, OTHER_UID, victim_}) EXPECT_EQ(jobs(uid).size(), 1u) << "uid " << uid;
}

// ---------------------------------------------------------------------------------------------
// Which folder, and a folder that fails its check

struct FolderCase {
    const char* name;
    uid_t runtime_owner;   // owner of the XDG_RUNTIME_DIR given (0: the victim; none when no mode)
    mode_t runtime_mode;   // mode of that folder; 0: XDG_RUNTIME_DIR unset
    bool in_runtime;       // the job's files go to $XDG_RUNTIME_DIR/zor_clientes_postgres
};

void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class StateFolderChoice : public TwoUsers, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(StateFolderChoice, RuntimeFolderOnlyWhenPrivateToTheUser) {
    const FolderCase& c = GetParam();
    std::string runtime;
    if (c.runtime_mode != 0) runtime = scratch(c.runtime_owner == 0 ? victim_ : c.runtime_owner, c.runtime_mode);
    const int pid = start_job(victim_, runtime);
    ASSERT_GT(pid, 0);
    const std::string folder = job_folder(pid);
    EXPECT_EQ(folder, c.in_runtime ? runtime + "/zor_clientes_postgres" : plain_folder(victim_));
    expect_private_folder_of(folder, victim_);
    if (c.in_runtime) {
        EXPECT_TRUE(launcher_entries(victim_).empty()) << "files in /tmp as well";
    }
}

INSTANTIATE_TEST_SUITE_P(Launcher, StateFolderChoice,
                         ::testing::Values(FolderCase{"NoRuntimeFolder", 0, 0, false},
                                           FolderCase{"PrivateRuntimeFolder", 0, 0700, true},
                                           FolderCase{"RuntimeFolderOthersCanRead", 0, 0755, false},
                                           FolderCase{"RuntimeFolderOfAnotherUser", OTHER_UID, 0700, false}),
                         [](const ::testing::TestParamInfo<FolderCase>& param_info) { return param_info.param.name; });

struct RefusedCase {
    const char* name;
    bool in_runtime;      // the broken folder is $XDG_RUNTIME_DIR/zor_clientes_postgres, else /tmp's
    const char* script;   // run by the victim in the folder's parent; the folder is "F"
    const char* problem;  // what the line says of it
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedStateFolder : public TwoUsers, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedStateFolder, IsNamedOnTheLaunchsOutputAndNothingElseIsUsed) {
    const RefusedCase& c = GetParam();
    const std::string runtime = c.in_runtime ? scratch(victim_, 0700) : "";
    const std::string parent = c.in_runtime ? runtime : "/tmp";
    const std::string name = c.in_runtime ? "zor_clientes_postgres" : fs::path(plain_folder(victim_)).filename().string();
    shell_as(victim_, std::string("cd ") + parent + "; F=" + name + "; " + c.script);
    const std::vector<fs::path> before = launcher_entries(victim_);

    const ProcessResult r = launch_as(victim_, runtime);
    EXPECT_EQ(r.status, 1);
    const std::string value = r.out + r.err;
    EXPECT_EQ(value.find('\n'), value.size() - 1) << "one line: " << value;
    EXPECT_NE(value.find("launch: pasta de estado recusada: " + parent + "/" + name + " ("), std::string::npos) << value;
    EXPECT_NE(value.find(c.problem), std::string::npos) << value;

    EXPECT_FALSE(wait_until([&] { return !jobs(victim_).empty() || server_.accepted() > 0; }, 2));
    EXPECT_EQ(launcher_entries(victim_), before) << "the launch went on in /tmp";
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, RefusedStateFolder,
    ::testing::Values(RefusedCase{"OwnTmpFolderOfMode0755", false, "mkdir -m 755 $F", "modo 0755, esperado 0700"},
                      RefusedCase{"RuntimeEntryOfMode0777", true, "mkdir $F; chmod 777 $F", "modo 0777, esperado 0700"},
                      RefusedCase{"RuntimeEntryIsALink", true, "mkdir -m 700 elsewhere; ln -s elsewhere $F",
                                  "é um link simbólico"},
                      RefusedCase{"RuntimeEntryIsAFile", true, ": > $F", "não é uma pasta"}),
    [](const ::testing::TestParamInfo<RefusedCase>& param_info) { return param_info.param.name; });

// The folder that the package prepares under /run is used by the user it belongs to only.
TEST_F(TwoUsers, PackageFolderServesItsOwnerOnly) {
    const std::string package = zor::PACKAGE_STATE_FOLDER;
    if (mkdir(package.c_str(), 0700) != 0) GTEST_SKIP() << package << " exists already (an installed package?)";
    scratch_.push_back(package);
    ASSERT_EQ(chown(package.c_str(), victim_, victim_), 0);

    const int victim_job = start_job(victim_);
    ASSERT_GT(victim_job, 0);
    EXPECT_EQ(job_folder(victim_job), package);
    const int other_job = start_job(OTHER_UID);
    ASSERT_GT(other_job, 0);
    EXPECT_EQ(job_folder(other_job), plain_folder(OTHER_UID));

    // Made wrong for its owner, it is refused by name rather than passed over.
    server_.stop();
    ASSERT_TRUE(wait_until([&] { return jobs(victim_).empty(); }, 30));
    ASSERT_EQ(chmod(package.c_str(), 0750), 0);
    const ProcessResult r = launch_as(victim_);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE((r.out + r.err).find("launch: pasta de estado recusada: " + package + " (modo 0750"), std::string::npos)
        << r.out << r.err;
}

}  // namespace
