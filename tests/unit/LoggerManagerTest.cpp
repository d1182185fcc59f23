#include "logging/LoggerManager.h"
#include "logging/NoFollowRotatingFileSink.h"

#include "LogCapture.h"
#include "LoggingEnvironment.h"
#include "SyslogRecorder.h"

#include <gtest/gtest.h>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

namespace {

// This test program defines write itself: while armed, writes to one file fail as asked; every other write
// goes on to the next definition (the C library, or a sanitizer in front of it).
struct WriteFault {
    std::atomic<bool> armed{false};
    dev_t device = 0;
    ino_t inode = 0;
    ssize_t result = -1; // 0, or -1 with ENOSPC
    std::atomic<int> calls{0};
};

WriteFault s_writeFault;

bool IsFaultyFile(int descriptor) {
    struct stat info {};
    return s_writeFault.armed.load() && ::fstat(descriptor, &info) == 0 &&
           info.st_dev == s_writeFault.device && info.st_ino == s_writeFault.inode;
}

} // namespace

extern "C" ssize_t write(int descriptor, void const* data, size_t size) {
    if (IsFaultyFile(descriptor)) {
        // A writer that retries on 0 ends after 100 calls.
        if (++s_writeFault.calls < 100 && s_writeFault.result == 0) {
            return 0;
        }
        errno = ENOSPC;
        return -1;
    }
    using Write = ssize_t (*)(int, void const*, size_t);
    static Write const next = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
    return next(descriptor, data, size);
}

namespace {

// While set, a rename of this name in a folder is followed by a link planted at the name, as another user
// could plant one between a rotation's rename and its open.
std::string s_takenAfterRename;

} // namespace

extern "C" int renameat(int oldFolder, char const* oldName, int newFolder, char const* newName) {
    using Rename = int (*)(int, char const*, int, char const*);
    static Rename const next = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "renameat"));
    int const result = next(oldFolder, oldName, newFolder, newName);
    if (result == 0 && !s_takenAfterRename.empty() && s_takenAfterRename == oldName) {
        ::symlinkat("planted-target", oldFolder, oldName);
    }
    return result;
}

using namespace profilermultiplexer;
using namespace profilermultiplexer::tests;
namespace fs = std::filesystem;

namespace {

constexpr char const* Pattern = "[%Y-%m-%d %T.%e] [%l] [thread %t] %v";

std::string MainLogFileName() {
    return "profiler_multiplexer" + std::to_string(::getpid()) + ".log";
}

std::vector<std::string> ReadLines(fs::path const& file) {
    std::vector<std::string> lines;
    std::ifstream stream(file);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string DigitsAsNines(std::string text) {
    for (char& c : text) {
        if (c >= '0' && c <= '9') {
            c = '9';
        }
    }
    return text;
}

std::set<std::string> Entries(fs::path const& dir) {
    std::set<std::string> names;
    for (auto const& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

void WriteFile(fs::path const& file, std::string const& text) {
    std::ofstream(file) << text;
}

std::string ReadFile(fs::path const& file) {
    std::ifstream stream(file);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// Every test gets its own root folder, with the temporary directory moved inside it and no log
// folder or profiler home set.
class LoggerManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        _root = LogCapture::MakeTemporaryFolder();
        fs::create_directory(TempDir());
        _environment.Set("TMPDIR", TempDir().string());
        _environment.Unset("Tarnix_Agent_LogsFolder");
        _environment.Unset("Tarnix_Agent_LogLevel");
        _environment.Unset("CORECLR_PROFILER_HOME");
        _environment.Unset("COR_PROFILER_HOME");
        SyslogRecorder::Clear();
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(_root, ignored);
    }

    fs::path const& Root() const { return _root; }
    fs::path TempDir() const { return _root / "tmp"; }
    fs::path TempLogs() const { return TempDir() / "Tarnix" / "Logs"; }

    LoggingEnvironment _environment;

private:
    fs::path _root;
};

// --- Level words ---

struct LevelRow {
    char const* name;
    std::optional<std::string> value; // none: unset
    spdlog::level::level_enum level;
};

void PrintTo(LevelRow const& row, std::ostream* out) {
    *out << row.name;
}

class LoggerManagerLevel : public LoggerManagerTest, public ::testing::WithParamInterface<LevelRow> {};

TEST_P(LoggerManagerLevel, ReadsLevelWord) {
    if (GetParam().value) {
        _environment.Set("Tarnix_Agent_LogLevel", *GetParam().value);
    }
    _environment.Set("Tarnix_Agent_LogsFolder", Root().string());
    LoggerManager manager;
    std::shared_ptr<Logger> logger = manager.CreateLogger(u"levels", Pattern, false);
    ASSERT_TRUE(logger->HasSpdLogger());
    EXPECT_EQ(logger->Level(), GetParam().level);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoggerManagerLevel,
    ::testing::Values(LevelRow{"Unset", std::nullopt, spdlog::level::info},
                      LevelRow{"Empty", std::string(""), spdlog::level::info},
                      LevelRow{"Blanks", std::string("   "), spdlog::level::info},
                      LevelRow{"Verbose", std::string("verbose"), spdlog::level::info},
                      LevelRow{"SpdlogWarning", std::string("warning"), spdlog::level::info},
                      LevelRow{"SpdlogError", std::string("error"), spdlog::level::info},
                      LevelRow{"Trace", std::string("trace"), spdlog::level::trace},
                      LevelRow{"UpperTrace", std::string("TRACE"), spdlog::level::trace},
                      LevelRow{"Debug", std::string("debug"), spdlog::level::debug},
                      LevelRow{"Info", std::string("info"), spdlog::level::info},
                      LevelRow{"WarnWithBlanks", std::string(" WARN\t"), spdlog::level::warn},
                      LevelRow{"Err", std::string("err"), spdlog::level::err},
                      LevelRow{"Critical", std::string("Critical"), spdlog::level::critical},
                      LevelRow{"Off", std::string("off"), spdlog::level::off}),
    [](auto const& info) { return std::string(info.param.name); });

TEST_F(LoggerManagerTest, LevelThatIsNotUtf8StopsConstruction) {
    _environment.Set("Tarnix_Agent_LogLevel", "\xc3\x28");
    EXPECT_THROW(LoggerManager(), std::range_error);
}

// --- Log folder ---

TEST_F(LoggerManagerTest, LogsFolderVariableHoldsTheFileDirectly) {
    _environment.Set("Tarnix_Agent_LogsFolder", " " + Root().string() + " ");
    LoggerManager manager;
    manager.InitiateMainLogger(true);
    EXPECT_EQ(Entries(Root()), (std::set<std::string>{"tmp", MainLogFileName()}));
    EXPECT_FALSE(fs::exists(TempDir() / "Tarnix"));
}

// A named log folder that cannot be used: missing, or there but not writable (as /proc is, even for root).
struct UnusableFolderRow {
    char const* name;
    fs::path (*folder)(fs::path const& root);
};

void PrintTo(UnusableFolderRow const& row, std::ostream* out) {
    *out << row.name;
}

class LoggerManagerUnusableLogsFolder : public LoggerManagerTest,
                                        public ::testing::WithParamInterface<UnusableFolderRow> {};

TEST_P(LoggerManagerUnusableLogsFolder, ReportsAndEndsTheSearch) {
    fs::path const folder = GetParam().folder(Root());
    bool const existed = fs::exists(folder);
    fs::path const home = Root() / "home";
    fs::create_directory(home);
    _environment.Set("Tarnix_Agent_LogsFolder", folder.string());
    _environment.Set("CORECLR_PROFILER_HOME", home.string());
    LoggerManager manager;
    manager.InitiateMainLogger(true);

    std::vector<std::string> const texts = SyslogRecorder::Texts();
    ASSERT_EQ(texts.size(), 1u);
    std::string const prefix = "Profiler Multiplexer: Error ";
    EXPECT_EQ(texts[0].rfind(prefix, 0), 0u) << texts[0];
    EXPECT_NE(texts[0].find(" when creating logs folder " + folder.string()), std::string::npos) << texts[0];
    EXPECT_EQ(texts[0].substr(texts[0].size() - folder.string().size()), folder.string());
    EXPECT_EQ(fs::exists(folder), existed);
    EXPECT_TRUE(fs::is_empty(home));
    EXPECT_TRUE(fs::is_empty(TempDir()));
    EXPECT_TRUE(LoggerManager::GetLogPath().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoggerManagerUnusableLogsFolder,
    ::testing::Values(UnusableFolderRow{"Missing",
                                        [](fs::path const& root) { return root / "missing" / "logs"; }},
                      UnusableFolderRow{"NotWritable", [](fs::path const&) { return fs::path("/proc"); }}),
    [](auto const& info) { return std::string(info.param.name); });

struct HomeRow {
    char const* name;
    bool isCoreClr;
    char const* usedVariable;
    char const* ignoredVariable;
};

void PrintTo(HomeRow const& row, std::ostream* out) {
    *out << row.name;
}

class LoggerManagerHome : public LoggerManagerTest, public ::testing::WithParamInterface<HomeRow> {};

TEST_P(LoggerManagerHome, RuntimeChoosesItsHomeVariable) {
    fs::path const used = Root() / "used";
    fs::path const ignored = Root() / "ignored";
    fs::create_directory(used);
    fs::create_directory(ignored);
    _environment.Set(GetParam().usedVariable, used.string());
    _environment.Set(GetParam().ignoredVariable, ignored.string());
    LoggerManager manager;
    manager.InitiateMainLogger(GetParam().isCoreClr);
    EXPECT_TRUE(fs::is_regular_file(used / "Tarnix" / "Logs" / MainLogFileName()));
    EXPECT_EQ(Entries(used / "Tarnix" / "Logs"), std::set<std::string>{MainLogFileName()});
    EXPECT_TRUE(fs::is_empty(ignored));
    EXPECT_EQ(LoggerManager::GetLogPath(), used / "Tarnix" / "Logs");
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoggerManagerHome,
    ::testing::Values(HomeRow{"CoreClr", true, "CORECLR_PROFILER_HOME", "COR_PROFILER_HOME"},
                      HomeRow{"Framework", false, "COR_PROFILER_HOME", "CORECLR_PROFILER_HOME"}),
    [](auto const& info) { return std::string(info.param.name); });

// No log folder or home: the temporary directory, an empty TMPDIR counted as unset (the next variable).
class LoggerManagerTemporaryDirectory : public LoggerManagerTest,
                                        public ::testing::WithParamInterface<bool> {};

TEST_P(LoggerManagerTemporaryDirectory, HoldsTheLogs) {
    if (GetParam()) {
        _environment.Set("TMPDIR", "");
        _environment.Set("TMP", TempDir().string());
    }
    LoggerManager manager;
    manager.InitiateMainLogger(true);
    EXPECT_EQ(Entries(TempLogs()), std::set<std::string>{MainLogFileName()});
}

INSTANTIATE_TEST_SUITE_P(Table, LoggerManagerTemporaryDirectory, ::testing::Bool(),
                         [](auto const& info) { return info.param ? "EmptyTmpdir" : "Tmpdir"; });

TEST_F(LoggerManagerTest, BlankLogsFolderCountsAsUnset) {
    fs::path const home = Root() / "home";
    fs::create_directory(home);
    _environment.Set("Tarnix_Agent_LogsFolder", " \t ");
    _environment.Set("CORECLR_PROFILER_HOME", home.string());
    LoggerManager manager;
    manager.InitiateMainLogger(true);
    EXPECT_TRUE(fs::is_regular_file(home / "Tarnix" / "Logs" / MainLogFileName()));
}

TEST_F(LoggerManagerTest, HomeTooDeepToNameItsFilesIsUsedThroughItsDescriptor) {
    // Tarnix/Logs can be made, but the path of any file in it is longer than a path may be: the files are
    // opened relative to the folder.
    fs::path home = Root() / "home";
    std::size_t const homeLength = PATH_MAX - 2 - std::string("/Tarnix/Logs").size();
    while (home.native().size() < homeLength) {
        std::size_t const left = homeLength - home.native().size() - 1;
        home /= std::string(left > 255 ? 200 : left, 'h');
    }
    fs::create_directories(home);
    // Whichever home variable the last logger's runtime chose.
    _environment.Set("CORECLR_PROFILER_HOME", home.string());
    _environment.Set("COR_PROFILER_HOME", home.string());
    EXPECT_EQ(LoggerManager::GetLogPath(), home / "Tarnix" / "Logs");
    EXPECT_TRUE(SyslogRecorder::Texts().empty());
}

class LoggerManagerUmask : public LoggerManagerTest, public ::testing::WithParamInterface<mode_t> {};

TEST_P(LoggerManagerUmask, SharedFoldersAreWritableByAllWithStickyBit) {
    mode_t const previous = ::umask(GetParam());
    bool const ready = LoggerManager::CreateLogFolder(Root() / "Tarnix", u"Logs");
    ::umask(previous);
    ASSERT_TRUE(ready);
    for (fs::path const& dir : {Root() / "Tarnix", Root() / "Tarnix" / "Logs"}) {
        struct stat info {};
        ASSERT_EQ(::stat(dir.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 01777u) << dir;
    }
    EXPECT_TRUE(fs::is_empty(Root() / "Tarnix" / "Logs")) << "the probe file is removed";
}

INSTANTIATE_TEST_SUITE_P(Table, LoggerManagerUmask, ::testing::Values(022, 077, 002, 000),
                         [](auto const& info) {
                             return "Umask0" + std::to_string(info.param / 8) +
                                    std::to_string(info.param % 8);
                         });

TEST_F(LoggerManagerTest, NamedFolderKeepsItsPermissionsAndTheUsersFiles) {
    fs::path const folder = Root() / "app";
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms(0755), fs::perm_options::replace);
    WriteFile(folder / "testFile", "the user's\n");
    _environment.Set("Tarnix_Agent_LogsFolder", folder.string());

    EXPECT_EQ(LoggerManager::GetLogPath(), folder);
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms(0755));
    EXPECT_EQ(ReadFile(folder / "testFile"), "the user's\n");
    EXPECT_EQ(Entries(folder), std::set<std::string>{"testFile"}) << "the probe file is removed";
}

// The home, Tarnix or Tarnix/Logs prepared by someone else: used only when no one else can swap what is
// inside, or when it is shared by all with the sticky bit; otherwise the temporary directory is used.
struct PreparedFolderRow {
    char const* name;
    char const* prepared; // under the home; empty: the home itself
    bool asLink = false;
    uid_t owner = 0; // 0: this user (root)
    mode_t mode = 0; // 0: as made
    bool used = false;
};

void PrintTo(PreparedFolderRow const& row, std::ostream* out) {
    *out << row.name;
}

class LoggerManagerPreparedFolder : public LoggerManagerTest,
                                    public ::testing::WithParamInterface<PreparedFolderRow> {};

TEST_P(LoggerManagerPreparedFolder, IsUsedOnlyWhenSafe) {
    PreparedFolderRow const& row = GetParam();
    fs::path const home = Root() / "home";
    fs::path const prepared = *row.prepared != '\0' ? home / row.prepared : home;
    fs::path const elsewhere = Root() / "elsewhere";
    fs::create_directories(prepared.parent_path());
    fs::create_directory(elsewhere);
    if (row.asLink) {
        fs::create_directory_symlink(elsewhere, prepared);
    } else {
        fs::create_directory(prepared);
        ASSERT_TRUE(row.owner == 0 || ::chown(prepared.c_str(), row.owner, row.owner) == 0);
        ASSERT_TRUE(row.mode == 0 || ::chmod(prepared.c_str(), row.mode) == 0);
    }
    _environment.Set("CORECLR_PROFILER_HOME", home.string());
    LoggerManager manager;
    manager.InitiateMainLogger(true);

    EXPECT_TRUE(fs::is_empty(elsewhere));
    std::vector<std::string> const texts = SyslogRecorder::Texts();
    if (row.used) {
        EXPECT_EQ(LoggerManager::GetLogPath(), home / "Tarnix" / "Logs");
        EXPECT_TRUE(fs::is_regular_file(home / "Tarnix" / "Logs" / MainLogFileName()));
        EXPECT_TRUE(texts.empty()) << texts[0];
        return;
    }
    EXPECT_EQ(LoggerManager::GetLogPath(), TempLogs());
    EXPECT_TRUE(fs::is_regular_file(TempLogs() / MainLogFileName()));
    EXPECT_FALSE(fs::exists(home / "Tarnix" / "Logs" / MainLogFileName()));
    if (prepared == home) {
        EXPECT_TRUE(fs::is_empty(home)) << "nothing is made in it";
    }
    ASSERT_FALSE(texts.empty());
    std::string const tail = " when creating logs folder " + prepared.string();
    EXPECT_EQ(texts[0].rfind("Profiler Multiplexer: Error ", 0), 0u) << texts[0];
    EXPECT_EQ(texts[0].substr(texts[0].size() - std::min(tail.size(), texts[0].size())), tail);
}

constexpr uid_t AnotherUser = 12345;

INSTANTIATE_TEST_SUITE_P(
    Table, LoggerManagerPreparedFolder,
    ::testing::Values(
        PreparedFolderRow{"TarnixIsALink", "Tarnix", true},
        PreparedFolderRow{"LogsIsALink", "Tarnix/Logs", true},
        PreparedFolderRow{"TarnixOfAnotherUser", "Tarnix", false, AnotherUser},
        PreparedFolderRow{"LogsOfAnotherUser", "Tarnix/Logs", false, AnotherUser},
        // This user's (root's): anyone may swap what is inside.
        PreparedFolderRow{"HomeWritableByAll", "", false, 0, 0777},
        PreparedFolderRow{"HomeWritableByGroup", "", false, 0, 0775},
        PreparedFolderRow{"TarnixWritableByAll", "Tarnix", false, 0, 0777},
        PreparedFolderRow{"LogsWritableByGroup", "Tarnix/Logs", false, 0, 0775},
        PreparedFolderRow{"TarnixOfAnotherUserWritableByAll", "Tarnix", false, AnotherUser, 0777},
        PreparedFolderRow{"LogsOfAnotherUserWritableByAll", "Tarnix/Logs", false, AnotherUser, 0777},
        // Shared by all as the temporary directory is: no one else removes or replaces our files.
        PreparedFolderRow{"HomeSharedByAll", "", false, 0, 01777, true},
        PreparedFolderRow{"TarnixSharedByAnotherUser", "Tarnix", false, AnotherUser, 01777, true},
        PreparedFolderRow{"LogsSharedByAnotherUser", "Tarnix/Logs", false, AnotherUser, 01777, true}),
    [](auto const& info) { return std::string(info.param.name); });

TEST_F(LoggerManagerTest, SubFolderFailureNamesTheSubFolder) {
    fs::create_directory(Root() / "Tarnix");
    WriteFile(Root() / "Tarnix" / "Logs", "a file, not a folder");
    EXPECT_FALSE(LoggerManager::CreateLogFolder(Root() / "Tarnix", u"Logs"));
    std::vector<std::string> const texts = SyslogRecorder::Texts();
    ASSERT_EQ(texts.size(), 1u);
    std::string const tail = " when creating logs folder " + (Root() / "Tarnix" / "Logs").string();
    EXPECT_EQ(texts[0].rfind("Profiler Multiplexer: Error ", 0), 0u) << texts[0];
    EXPECT_EQ(texts[0].substr(texts[0].size() - tail.size()), tail);
}

// --- Logger construction ---

TEST_F(LoggerManagerTest, FileNameHasProcessIdOnlyWhenAsked) {
    _environment.Set("Tarnix_Agent_LogsFolder", Root().string());
    LoggerManager manager;
    manager.CreateLogger(u"with", Pattern, true);
    manager.CreateLogger(u"without", Pattern, false);
    EXPECT_EQ(Entries(Root()),
              (std::set<std::string>{"tmp", "with" + std::to_string(::getpid()) + ".log", "without.log"}));
}

TEST_F(LoggerManagerTest, UnusableTemporaryDirectoryLeavesOnlyTheSystemLog) {
    WriteFile(Root() / "a-file", "");
    for (fs::path const& temporary : {Root() / "no-such-dir", Root() / "a-file"}) {
        SyslogRecorder::Clear();
        _environment.Set("TMPDIR", temporary.string());
        LoggerManager manager;
        std::shared_ptr<Logger> logger = manager.CreateLogger(u"profiler_multiplexer", Pattern, true);
        ASSERT_TRUE(logger->HasSpdLogger()) << temporary;
        std::vector<std::string> const texts = SyslogRecorder::Texts();
        ASSERT_EQ(texts.size(), 1u) << temporary;
        std::string const tail = " when creating logs folder " + (temporary / "Tarnix").string();
        EXPECT_EQ(texts[0].rfind("Profiler Multiplexer: Error ", 0), 0u) << texts[0];
        EXPECT_EQ(texts[0].substr(texts[0].size() - std::min(tail.size(), texts[0].size())), tail);
        logger->Error("still written");
        EXPECT_EQ(SyslogRecorder::Texts().back(), "still written");
    }
}

TEST_F(LoggerManagerTest, FileThatCannotBeOpenedLeavesOnlyTheSystemLog) {
    _environment.Set("Tarnix_Agent_LogsFolder", Root().string());
    fs::create_directory(Root() / "blocked.log"); // spdlog cannot open a folder as its file
    LoggerManager manager;
    std::shared_ptr<Logger> logger = manager.CreateLogger(u"blocked", Pattern, false);
    ASSERT_TRUE(logger->HasSpdLogger());
    SyslogRecorder::Clear();
    logger->Info("still here");
    EXPECT_EQ(SyslogRecorder::Texts(), std::vector<std::string>{"still here"});
}

// Something planted where the log file goes: never written, the reason goes to the system log.
struct PlantedFileRow {
    char const* name;
    // Plants at the log file's place; returns the file an attacker wants written.
    fs::path (*plant)(fs::path const& logFile, fs::path const& root);
};

void PrintTo(PlantedFileRow const& row, std::ostream* out) {
    *out << row.name;
}

// Second: in Tarnix/Logs of the home, both made by another user and shared by all.
class LoggerManagerPlantedLogFile : public LoggerManagerTest,
                                    public ::testing::WithParamInterface<std::tuple<PlantedFileRow, bool>> {
protected:
    fs::path LogFolder() {
        if (!std::get<1>(GetParam())) {
            _environment.Set("Tarnix_Agent_LogsFolder", Root().string());
            return Root();
        }
        fs::path const home = Root() / "home";
        fs::create_directories(home / "Tarnix" / "Logs");
        for (fs::path const& dir : {home / "Tarnix", home / "Tarnix" / "Logs"}) {
            EXPECT_EQ(::chown(dir.c_str(), AnotherUser, AnotherUser), 0);
            EXPECT_EQ(::chmod(dir.c_str(), 01777), 0);
        }
        _environment.Set("CORECLR_PROFILER_HOME", home.string());
        _environment.Set("COR_PROFILER_HOME", home.string());
        return home / "Tarnix" / "Logs";
    }
};

TEST_P(LoggerManagerPlantedLogFile, IsNeverWritten) {
    fs::path const logFile = LogFolder() / "planted.log";
    fs::path const victim = std::get<0>(GetParam()).plant(logFile, Root());
    bool const victimExisted = fs::exists(victim);
    LoggerManager manager;
    std::shared_ptr<Logger> logger = manager.CreateLogger(u"planted", Pattern, false);
    ASSERT_TRUE(logger->HasSpdLogger());
    std::vector<std::string> const texts = SyslogRecorder::Texts();
    logger->Info("secret");

    EXPECT_EQ(fs::exists(victim), victimExisted);
    EXPECT_EQ(ReadFile(victim), "");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("Profiler Multiplexer: No log file: ", 0), 0u) << texts[0];
    EXPECT_NE(texts[0].find(logFile.string()), std::string::npos) << texts[0];
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoggerManagerPlantedLogFile,
    ::testing::Combine(::testing::Values(PlantedFileRow{"LinkToAnEmptyFile",
                                                        [](fs::path const& logFile, fs::path const& root) {
                                                            WriteFile(root / "victim", "");
                                                            fs::create_symlink(root / "victim", logFile);
                                                            return root / "victim";
                                                        }},
                                         PlantedFileRow{"LinkToNoFile",
                                                        [](fs::path const& logFile, fs::path const& root) {
                                                            fs::create_symlink(root / "victim", logFile);
                                                            return root / "victim";
                                                        }},
                                         PlantedFileRow{"HardLink",
                                                        [](fs::path const& logFile, fs::path const& root) {
                                                            WriteFile(root / "victim", "");
                                                            fs::create_hard_link(root / "victim", logFile);
                                                            return root / "victim";
                                                        }},
                                         PlantedFileRow{"FileOfAnotherUser",
                                                        [](fs::path const& logFile, fs::path const&) {
                                                            WriteFile(logFile, "");
                                                            EXPECT_EQ(::chown(logFile.c_str(), 12345, 12345),
                                                                      0);
                                                            return logFile;
                                                        }}),
                       ::testing::Bool()),
    [](auto const& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) ? "InSharedFolder" : "InOwnFolder");
    });

// The log folder's path swapped for a link after it was opened: rotations stay in the folder.
TEST_F(LoggerManagerTest, RotationStaysInTheFolderOpenedWhenItsPathIsSwapped) {
    fs::path const folder = Root() / "logs";
    fs::path const elsewhere = Root() / "elsewhere";
    fs::create_directory(folder);
    fs::create_directory(elsewhere);
    NoFollowRotatingFileSink sink(FileDescriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY)),
                                  folder.string(), "swap.log", 40, 2, false);
    sink.set_pattern("%v");
    sink.log(spdlog::details::log_msg("n", spdlog::level::info, "first line, thirty bytes long"));
    fs::rename(folder, Root() / "moved");
    fs::create_directory_symlink(elsewhere, folder);
    sink.log(spdlog::details::log_msg("n", spdlog::level::info, "second line, after the swap"));

    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(Entries(Root() / "moved"), (std::set<std::string>{"swap.log", "swap.1.log"}));
    EXPECT_EQ(ReadFile(Root() / "moved" / "swap.log"), "second line, after the swap\n");
}

// The name taken between a rotation's rename and its open: lines go on to the rotated file, which is said,
// until the name is free again.
TEST_F(LoggerManagerTest, RotationWhoseNameIsTakenGoesOnWithTheCurrentFile) {
    NoFollowRotatingFileSink sink(FileDescriptor(::open(Root().c_str(), O_RDONLY | O_DIRECTORY)),
                                  Root().string(), "taken.log", 40, 2, false);
    sink.set_pattern("%v");
    sink.log(spdlog::details::log_msg("n", spdlog::level::info, "first line, thirty bytes long"));
    s_takenAfterRename = "taken.log";
    sink.log(spdlog::details::log_msg("n", spdlog::level::info, "second line, name taken"));
    s_takenAfterRename.clear();
    sink.log(spdlog::details::log_msg("n", spdlog::level::info, "third line"));
    std::vector<std::string> const texts = SyslogRecorder::Texts();
    fs::remove(Root() / "taken.log");
    sink.log(spdlog::details::log_msg("n", spdlog::level::info, "fourth line, name free again"));

    EXPECT_EQ(ReadFile(Root() / "taken.1.log"),
              "first line, thirty bytes long\nsecond line, name taken\nthird line\n");
    EXPECT_EQ(ReadFile(Root() / "taken.log"), "fourth line, name free again\n");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("Profiler Multiplexer: Log file rotation: Failed opening file " +
                                 (Root() / "taken.log").string(),
                             0),
              0u)
        << texts[0];
    EXPECT_NE(texts[0].find("lines go on to " + (Root() / "taken.1.log").string()), std::string::npos)
        << texts[0];
}

TEST_F(LoggerManagerTest, RotationFailingAtOpenLeavesNoDescriptorOpen) {
    WriteFile(Root() / "stuck.log", "a line from before\n");
    fs::create_directories(Root() / "stuck.1.log" / "full"); // cannot be replaced by a file
    auto const openDescriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    auto const before = openDescriptors();
    EXPECT_THROW(NoFollowRotatingFileSink(FileDescriptor(::open(Root().c_str(), O_RDONLY | O_DIRECTORY)),
                                          Root().string(), "stuck.log", 1024, 1, true),
                 spdlog::spdlog_ex);
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(LoggerManagerTest, FileLineHasPatternAndSystemLogHasBareMessage) {
    _environment.Set("Tarnix_Agent_LogsFolder", Root().string());
    LoggerManager manager;
    std::shared_ptr<Logger> logger = manager.CreateLogger(u"line", Pattern, false);
    logger->Info("hello {}", "world");

    std::vector<std::string> const lines = ReadLines(Root() / "line.log");
    ASSERT_EQ(lines.size(), 1u);
    std::string const shape = DigitsAsNines(lines[0]);
    std::string const start = "[9999-99-99 99:99:99.999] [info] [thread ";
    std::size_t const threadEnd = shape.find(']', start.size());
    ASSERT_NE(threadEnd, std::string::npos) << lines[0];
    EXPECT_EQ(shape.substr(0, start.size()), start) << lines[0];
    EXPECT_GT(threadEnd, start.size()) << lines[0];
    EXPECT_EQ(shape.substr(start.size(), threadEnd - start.size()),
              std::string(threadEnd - start.size(), '9'));
    EXPECT_EQ(shape.substr(threadEnd), "] hello world");

    std::vector<SyslogMessage> const messages = SyslogRecorder::Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "hello world");
    EXPECT_EQ(messages[0].priority, LOG_INFO);
    EXPECT_EQ(messages[0].facility, LOG_USER);
}

TEST_F(LoggerManagerTest, SecondInitiateRotatesAndWritesOnlyThroughTheNewLogger) {
    _environment.Set("Tarnix_Agent_LogsFolder", Root().string());
    LoggerManager manager;
    manager.InitiateMainLogger(true);
    Logger* first = nullptr;
    manager.WithMainLogger([&](Logger& logger) {
        first = &logger;
        logger.Info("first logger");
    });
    manager.InitiateMainLogger(true);
    manager.WithMainLogger([&](Logger& logger) {
        EXPECT_NE(&logger, first);
        logger.Info("second logger");
    });
    std::string const rotated = "profiler_multiplexer" + std::to_string(::getpid()) + ".1.log";
    EXPECT_EQ(ReadLines(Root() / rotated).size(), 1u);
    std::vector<std::string> const lines = ReadLines(Root() / MainLogFileName());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("second logger"), std::string::npos);
}

// A child process logs 100 lines at trace level under a real file-size limit, SIGXFSZ at its default: it
// exits normally, its files never cross the limit and hold its last lines; with a limit below a line's
// length, file logging stops and the system log says why (else the child exits with 3).
TEST_F(LoggerManagerTest, FileSizeLimitIsNeverCrossed) {
    _environment.Set("Tarnix_Agent_LogsFolder", Root().string());
    _environment.Set("Tarnix_Agent_LogLevel", "trace");
    for (rlim_t const limit : {rlim_t{2048}, rlim_t{16}}) {
        pid_t const child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_DFL);
            struct rlimit const fileSize{limit, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
            LoggerManager manager;
            manager.InitiateMainLogger(true);
            for (int line = 0; line < 100; ++line) {
                manager.WithMainLogger([line](Logger& logger) { logger.Trace("line {}", line); });
            }
            std::vector<std::string> const texts = SyslogRecorder::Texts();
            bool const told = std::any_of(texts.begin(), texts.end(), [](std::string const& text) {
                return text.rfind("Profiler Multiplexer: No more lines to the log file ", 0) == 0;
            });
            ::_exit(limit > 100 || told ? 0 : 3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status) << " under the limit " << limit;
        EXPECT_EQ(WEXITSTATUS(status), 0) << limit;
        std::vector<std::string> lines;
        for (char const* suffix : {".3.log", ".2.log", ".1.log", ".log"}) {
            fs::path const file = Root() / ("profiler_multiplexer" + std::to_string(child) + suffix);
            if (fs::exists(file)) {
                EXPECT_LE(fs::file_size(file), limit) << file;
                for (std::string const& line : ReadLines(file)) {
                    lines.push_back(line.substr(line.rfind("] ") + 2));
                }
            }
        }
        EXPECT_EQ(lines.size() > 2048 / 64, limit > 100) << "lines in several files";
        for (std::size_t index = 0; index < lines.size(); ++index) {
            EXPECT_EQ(lines[index], "line " + std::to_string(100 - lines.size() + index));
        }
    }
}

// --- spdlog's error handler ---

class ThrowingSink : public spdlog::sinks::base_sink<std::mutex> {
protected:
    void sink_it_(spdlog::details::log_msg const&) override { throw spdlog::spdlog_ex("sink broke"); }
    void flush_() override {}
};

TEST_F(LoggerManagerTest, RegistryLoggerErrorsGoToTheSystemLog) {
    LoggerManager manager;
    auto registered = std::make_shared<spdlog::logger>("pm-registered", std::make_shared<ThrowingSink>());
    spdlog::initialize_logger(registered);
    registered->error("lost");
    spdlog::drop("pm-registered");
    EXPECT_EQ(SyslogRecorder::Texts(),
              std::vector<std::string>{"Profiler Multiplexer: Logger Handler: sink broke"});
}

// The main logger's own errors: one fallback message for a burst, nothing on the host's stderr.
struct WriteFaultRow {
    char const* name;
    ssize_t result;
};

void PrintTo(WriteFaultRow const& row, std::ostream* out) {
    *out << row.name;
}

class LoggerManagerMainLoggerError : public LoggerManagerTest,
                                     public ::testing::WithParamInterface<WriteFaultRow> {};

TEST_P(LoggerManagerMainLoggerError, GoesToTheSystemLog) {
    _environment.Set("Tarnix_Agent_LogsFolder", Root().string());
    LoggerManager manager;
    manager.InitiateMainLogger(true);
    fs::path const logFile = Root() / MainLogFileName();
    struct stat info {};
    ASSERT_EQ(::stat(logFile.c_str(), &info), 0);
    s_writeFault.device = info.st_dev;
    s_writeFault.inode = info.st_ino;
    s_writeFault.result = GetParam().result;
    s_writeFault.calls = 0;
    SyslogRecorder::Clear();
    ::testing::internal::CaptureStderr();
    s_writeFault.armed = true;
    manager.WithMainLogger([](Logger& logger) {
        logger.Error("lost");
        logger.Error("lost again");
    });
    s_writeFault.armed = false;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(s_writeFault.calls.load(), 2) << "one write a message";
    std::vector<std::string> fallback;
    for (std::string const& text : SyslogRecorder::Texts()) {
        if (text.rfind("Profiler Multiplexer: ", 0) == 0) {
            fallback.push_back(text);
        }
    }
    ASSERT_EQ(fallback.size(), 1u);
    std::string const start =
        "Profiler Multiplexer: Logger Handler: Failed writing to file " + logFile.string();
    EXPECT_EQ(fallback[0].rfind(start, 0), 0u) << fallback[0];
}

INSTANTIATE_TEST_SUITE_P(Table, LoggerManagerMainLoggerError,
                         ::testing::Values(WriteFaultRow{"DiskFull", -1}, WriteFaultRow{"WritesNothing", 0}),
                         [](auto const& info) { return std::string(info.param.name); });

} // namespace
