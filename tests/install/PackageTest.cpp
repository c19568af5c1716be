// The Debian package as cpack builds it from this build folder: the files it
// holds, its control fields, its changelog and copyright, and lintian's
// verdict. Everything runs locally (dpkg-deb, dpkg-shlibdeps, lintian): no
// network.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/TempDir.h"

namespace fs = std::filesystem;
using brellin::testing::TempDir;

namespace {

// Runs `command` under /bin/sh with its output (stdout and stderr) in `log`;
// the exit status, or -1 when it did not exit normally.
int run(const std::string& command, const std::string& log) {
    const int status = std::system(("{ " + command + "; } >'" + log + "' 2>&1").c_str());
    return (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
}

bool onPath(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// One package built by cpack, shared by the cases of this program.
class DebianPackage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir();
        const std::string out = dir->path("out");
        built = run(std::string("'") + BRELLIN_CPACK_COMMAND + "' -G DEB -B '" + out + "' --config '" +
                        BRELLIN_BINARY_DIR + "/CPackConfig.cmake'",
                    dir->path("cpack.log")) == 0;
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(out, error)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("brellin_") && name.ends_with(".deb")) packages.push_back(entry.path().string());
        }
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
        packages.clear();
    }
    void SetUp() override {
        if (!onPath("dpkg-deb") || !onPath("dpkg-shlibdeps") || !onPath("lintian")) {
            GTEST_SKIP() << "dpkg-dev or lintian not installed (scripts/install-deps.sh test)";
        }
        ASSERT_TRUE(built) << dir->read("cpack.log");
        ASSERT_EQ(packages.size(), 1u) << dir->read("cpack.log");
        deb = packages.front();
    }

    // A control field of the package, without the trailing newline.
    static std::string field(const std::string& name) {
        run("dpkg-deb -f '" + deb + "' " + name, dir->path("field.txt"));
        return trimmed(dir->read("field.txt"));
    }

    static TempDir* dir;
    static bool built;
    static std::vector<std::string> packages;
    static std::string deb;
};

TempDir* DebianPackage::dir = nullptr;
bool DebianPackage::built = false;
std::vector<std::string> DebianPackage::packages;
std::string DebianPackage::deb;

}  // namespace

TEST_F(DebianPackage, HoldsExactlyTheInstalledFilesOwnedByRoot) {
    ASSERT_EQ(run("dpkg-deb --contents '" + deb + "'", dir->path("contents.txt")), 0) << dir->read("contents.txt");
    // clang-format off
    const std::set<std::string> expected = {
        "./usr/bin/brellin", "./usr/bin/brellin-render", "./usr/bin/brellin-synth", "./usr/bin/brf-tool",
        "./usr/lib/systemd/user/brellin-synth.service", "./usr/share/man/man1/brellin-synth.1.gz",
        "./usr/share/brellin/small.brf", "./usr/share/brellin/demo.mid", "./usr/share/brellin/Brellin.ini",
        "./usr/share/brellin/BrellinBack.bmp", "./usr/share/brellin/BrellinParts.bmp",
        "./usr/share/applications/brellin.desktop", "./usr/share/metainfo/org.brellin.Brellin.metainfo.xml",
        "./usr/share/mime/packages/brellin.xml",
        "./usr/share/icons/hicolor/16x16/apps/brellin.png", "./usr/share/icons/hicolor/32x32/apps/brellin.png",
        "./usr/share/icons/hicolor/48x48/apps/brellin.png", "./usr/share/icons/hicolor/64x64/apps/brellin.png",
        "./usr/share/man/man1/brellin.1.gz", "./usr/share/man/man1/brellin-render.1.gz",
        "./usr/share/man/man1/brf-tool.1.gz",
        "./usr/share/doc/brellin/changelog.gz", "./usr/share/doc/brellin/copyright",
        "./usr/share/lintian/overrides/brellin",
    };
    // clang-format on
    // Lines read "-rwxr-xr-x root/root 123 2026-12-08 12:00 ./usr/bin/brellin".
    std::set<std::string> files;
    for (const std::string& line : lines(dir->read("contents.txt"))) {
        std::istringstream in(line);
        std::string mode, owner, size, date, time, path;
        in >> mode >> owner >> size >> date >> time >> path;
        EXPECT_EQ(owner, "root/root") << line;
        EXPECT_TRUE(path.starts_with("./usr/")) << line;  // nothing outside /usr, no build-tree paths
        if (mode.starts_with("d")) continue;
        files.insert(path);
        const bool program = path.starts_with("./usr/bin/");
        EXPECT_EQ(mode, program ? "-rwxr-xr-x" : "-rw-r--r--") << line;
    }
    EXPECT_EQ(files, expected);
}

TEST_F(DebianPackage, ControlFieldsNameTheVersionTheMaintainerAndTheLibraries) {
    EXPECT_EQ(field("Version"), BRELLIN_PROJECT_VERSION);
    EXPECT_EQ(field("Maintainer"), BRELLIN_PACKAGE_MAINTAINER);
    run("dpkg --print-architecture", dir->path("arch.txt"));
    EXPECT_EQ(field("Architecture"), trimmed(dir->read("arch.txt")));
    // Derived from the programs' shared libraries, plus the window-system
    // plugin Qt loads at run time.
    const std::string depends = field("Depends");
    for (const char* library :
         {"libasound2", "libqt6widgets6", "libfreetype6", "libfontconfig1", "libc6", "qt6-qpa-plugins"}) {
        EXPECT_NE(depends.find(library), std::string::npos) << library << " missing from: " << depends;
    }
    // A synopsis line and an extended description below it.
    const std::vector<std::string> description = lines(field("Description"));
    ASSERT_GE(description.size(), 2u);
    EXPECT_FALSE(description.front().empty());
}

TEST_F(DebianPackage, ChangelogAndCopyrightAreDebiansFormats) {
    const std::string unpacked = dir->path("unpacked");
    ASSERT_EQ(run("dpkg-deb -x '" + deb + "' '" + unpacked + "'", dir->path("extract.log")), 0)
        << dir->read("extract.log");
    // The changelog: compressed without a time stamp (the same bytes every
    // build), its newest entry the package's version, signed by its maintainer.
    const std::string changelog = unpacked + "/usr/share/doc/brellin/changelog.gz";
    ASSERT_EQ(run("gzip -dc '" + changelog + "' > '" + dir->path("changelog") + "'", dir->path("gunzip.log")), 0)
        << dir->read("gunzip.log");
    const std::string gz = dir->read("unpacked/usr/share/doc/brellin/changelog.gz");
    ASSERT_GT(gz.size(), 10u);
    EXPECT_EQ(gz.substr(0, 2), "\x1f\x8b");
    EXPECT_EQ(gz[3] & 0x08, 0) << "a file name is stored";
    EXPECT_EQ(gz.substr(4, 4), std::string(4, '\0')) << "a time stamp is stored";

    const std::string parse = "dpkg-parsechangelog -l '" + dir->path("changelog") + "' -S ";
    ASSERT_EQ(run(parse + "Version", dir->path("version.txt")), 0) << dir->read("version.txt");
    EXPECT_EQ(trimmed(dir->read("version.txt")), field("Version"));
    ASSERT_EQ(run(parse + "Maintainer", dir->path("maintainer.txt")), 0) << dir->read("maintainer.txt");
    EXPECT_EQ(trimmed(dir->read("maintainer.txt")), field("Maintainer"));

    // The copyright file: machine-readable, naming no licence it was not given.
    const std::string copyright = dir->read("unpacked/usr/share/doc/brellin/copyright");
    EXPECT_TRUE(copyright.starts_with("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"))
        << copyright;
    EXPECT_NE(copyright.find("\nLicense: LicenseRef-proprietary\n"), std::string::npos) << copyright;
}

TEST_F(DebianPackage, LintianFindsNoErrorsOrWarnings) {
    // Exit status 0 with no E: or W: lines. Of the informational notes, the
    // ones about hardening and stripping count too in an optimised build
    // (a debug build is not hardened).
    const int status = run("lintian -I --no-tag-display-limit '" + deb + "'", dir->path("lintian.txt"));
    const std::string report = dir->read("lintian.txt");
    EXPECT_EQ(status, 0) << report;
    for (const std::string& line : lines(report)) {
        EXPECT_FALSE(line.starts_with("E: ") || line.starts_with("W: ")) << line;
        if (BRELLIN_HARDENED) {
            EXPECT_EQ(line.find(": hardening-no-"), std::string::npos) << line;
            EXPECT_EQ(line.find(": binary-has-unneeded-section"), std::string::npos) << line;
        }
    }
}

// A package step without dpkg-shlibdeps stops, naming what to install,
// instead of packaging without the dependencies (CPack itself only warns).
// The check cpack reads before packaging, run as a script with and without
// the tools on the PATH.
TEST(PackageStep, StopsWithoutTheDependencyScanner) {
    if (!onPath("dpkg-shlibdeps") || !onPath("file")) GTEST_SKIP() << "dpkg-dev or file not installed";
    TempDir dir;
    const std::string cmake = fs::path(BRELLIN_CPACK_COMMAND).parent_path() / "cmake";
    const std::string script = dir.write("check.cmake",
                                         "cmake_minimum_required(VERSION 3.25)\n"
                                         "include(\"" BRELLIN_BINARY_DIR
                                         "/CPackConfig.cmake\")\n"
                                         "set(CPACK_GENERATOR DEB)\n"
                                         "include(\"${CPACK_PROJECT_CONFIG_FILE}\")\n");
    fs::create_directory(dir.path("empty"));
    EXPECT_NE(run("env PATH='" + dir.path("empty") + "' '" + cmake + "' -P '" + script + "'", dir.path("without.log")),
              0);
    const std::string said = dir.read("without.log");
    EXPECT_NE(said.find("dpkg-shlibdeps"), std::string::npos) << said;
    EXPECT_NE(said.find("scripts/install-deps.sh package"), std::string::npos) << said;
    EXPECT_EQ(run("'" + cmake + "' -P '" + script + "'", dir.path("with.log")), 0) << dir.read("with.log");
}
