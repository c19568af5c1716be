// The build folder installed with cmake --install into a temporary prefix:
// every file in its place, the desktop entry and AppStream file accepted by
// their validators, and the installed programs finding their data under
// share/brellin/ and keeping their settings in $XDG_CONFIG_HOME/brellin/.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/TempDir.h"
#include "ui/dialogs/FileAssociations.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using brellin::testing::TempDir;

namespace {

struct Outcome {
    bool exited = false;
    int status = -1;
};

// Runs `argv` with the extra environment `env` ("NAME=value"), output into
// `log`; killed after `limit`.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log) {
    pid_t pid = ::fork();
    if (pid == 0) {
        for (const std::string& item : env) ::putenv(const_cast<char*>(item.c_str()));
        int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

Outcome waitFor(pid_t pid, std::chrono::milliseconds limit) {
    Outcome run;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            run.exited = true;
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return run;
        }
        std::this_thread::sleep_for(5ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return run;
}

Outcome runTool(const std::vector<std::string>& argv, const std::string& log,
                const std::vector<std::string>& env = {}) {
    return waitFor(spawn(argv, env, log), 120s);
}

bool onPath(const char* tool) {
    const std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// One installation shared by the cases of this program.
class Installation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir();
        prefix = dir->path("prefix");
        installed = runTool({BRELLIN_CMAKE_COMMAND, "--install", BRELLIN_BINARY_DIR, "--prefix", prefix},
                            dir->path("install.log"))
                        .status == 0;
    }
    static void TearDownTestSuite() {
        // The program folder made read-only below must be writable to be removed.
        ::chmod((prefix + "/bin").c_str(), 0755);
        delete dir;
        dir = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(installed) << dir->read("install.log"); }

    static TempDir* dir;
    static std::string prefix;
    static bool installed;
};

TempDir* Installation::dir = nullptr;
std::string Installation::prefix;
bool Installation::installed = false;

}  // namespace

TEST_F(Installation, PutsEveryFileInPlaceAndTheRendererPlaysFromThere) {
    // clang-format off
    const char* files[] = {
        "bin/brellin", "bin/brellin-render", "bin/brellin-synth", "bin/brf-tool",
        "lib/systemd/user/brellin-synth.service", "share/man/man1/brellin-synth.1.gz",
        "share/brellin/small.brf", "share/brellin/Brellin.ini", "share/brellin/BrellinBack.bmp",
        "share/brellin/BrellinParts.bmp", "share/brellin/demo.mid",
        "share/applications/brellin.desktop", "share/metainfo/org.brellin.Brellin.metainfo.xml",
        "share/mime/packages/brellin.xml",
        "share/icons/hicolor/16x16/apps/brellin.png", "share/icons/hicolor/32x32/apps/brellin.png",
        "share/icons/hicolor/48x48/apps/brellin.png", "share/icons/hicolor/64x64/apps/brellin.png",
        "share/man/man1/brellin.1.gz", "share/man/man1/brellin-render.1.gz", "share/man/man1/brf-tool.1.gz",
        "share/doc/brellin/changelog.gz", "share/doc/brellin/copyright",
    };
    // clang-format on
    for (const char* file : files) EXPECT_TRUE(fs::is_regular_file(prefix + "/" + file)) << file;
    EXPECT_EQ(::access((prefix + "/bin/brellin").c_str(), X_OK), 0);
    // The per-user association writes the same MIME package as the installation.
    EXPECT_EQ(dir->read("prefix/share/mime/packages/brellin.xml"), brellin::FileAssociations::mimePackageText());

    // The installed renderer finds small.brf under share/brellin (nothing
    // beside it in bin/) and renders the demo song.
    const std::string wav = dir->path("demo.wav");
    const std::string config = dir->path("render-config");
    Outcome render = runTool({prefix + "/bin/brellin-render", "-o", wav, prefix + "/share/brellin/demo.mid"},
                             dir->path("render.log"), {"XDG_CONFIG_HOME=" + config, "BRELLIN_AUDIO_DEVICE=null"});
    ASSERT_TRUE(render.exited);
    EXPECT_EQ(render.status, 0) << dir->read("render.log");
    const std::string bytes = dir->read("demo.wav");
    ASSERT_GT(bytes.size(), 44u + 22050u) << "less than a second of sound";
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(bytes.substr(8, 4), "WAVE");
    EXPECT_NE(bytes.find_first_not_of(bytes[44], 44), std::string::npos) << "only silence";
    EXPECT_FALSE(fs::exists(prefix + "/bin/Brellin.cfg"));
}

TEST_F(Installation, DesktopEntryAndAppStreamFilePassTheirValidators) {
    if (!onPath("desktop-file-validate") || !onPath("appstreamcli")) {
        GTEST_SKIP() << "desktop-file-validate or appstreamcli not installed (scripts/install-deps.sh test)";
    }
    Outcome desktop =
        runTool({"/bin/sh", "-c", "exec desktop-file-validate \"$0\"", prefix + "/share/applications/brellin.desktop"},
                dir->path("desktop.log"));
    EXPECT_EQ(desktop.status, 0) << dir->read("desktop.log");
    EXPECT_EQ(dir->read("desktop.log"), "") << "warnings or hints";
    Outcome appstream = runTool({"/bin/sh", "-c", "exec appstreamcli validate --no-net \"$0\"",
                                 prefix + "/share/metainfo/org.brellin.Brellin.metainfo.xml"},
                                dir->path("appstream.log"));
    EXPECT_EQ(appstream.status, 0) << dir->read("appstream.log");
    const std::string report = dir->read("appstream.log");
    EXPECT_EQ(report.find("E:"), std::string::npos) << report;
    EXPECT_EQ(report.find("W:"), std::string::npos) << report;
}

TEST_F(Installation, ReadOnlyProgramFolderKeepsTheSettingsInXdgConfig) {
    const std::string bin = prefix + "/bin";
    ASSERT_EQ(::chmod(bin.c_str(), 0555), 0);
    const std::string runtime = dir->path("run");
    fs::create_directory(runtime);
    ::chmod(runtime.c_str(), 0700);
    const std::string config = dir->path("config");
    const std::string song = prefix + "/share/brellin/demo.mid";
    const pid_t pid = spawn({bin + "/brellin", song},
                            {"QT_QPA_PLATFORM=offscreen", "BRELLIN_AUDIO_DEVICE=null", "XDG_RUNTIME_DIR=" + runtime,
                             "XDG_CONFIG_HOME=" + config},
                            dir->path("brellin.log"));
    // Running once its single-instance socket is there.
    const std::string socket = runtime + "/brellin/instance.socket";
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (!fs::exists(socket) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(fs::exists(socket)) << dir->read("brellin.log");

    ASSERT_EQ(::kill(pid, SIGTERM), 0);  // the Exit path: settings saved
    Outcome ended = waitFor(pid, 30s);
    ASSERT_TRUE(ended.exited);
    EXPECT_EQ(ended.status, 0) << dir->read("brellin.log");
    const std::string saved = dir->read("config/brellin/Brellin.cfg");
    EXPECT_NE(saved.find("LastPlayFileName=" + song + "\n"), std::string::npos) << saved;
    EXPECT_FALSE(fs::exists(bin + "/Brellin.cfg"));
    EXPECT_FALSE(fs::exists(prefix + "/share/brellin/Brellin.cfg"));
    // The installed skin was found: no message about a missing Brellin.ini.
    EXPECT_EQ(dir->read("brellin.log").find("Brellin.ini"), std::string::npos) << dir->read("brellin.log");
}
