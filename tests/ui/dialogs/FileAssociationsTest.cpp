// The file associations in a temporary home: the desktop entry's command
// line, the merge of mimeapps.list, the MIME package with the database tools
// where they are installed, and the messages of the Configure dialog.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/TempDir.h"
#include "tests/ui/FakeHost.h"
#include "ui/dialogs/ConfigureDialog.h"
#include "ui/dialogs/FileAssociations.h"
#include "ui/dialogs/SettingsTemplates.h"

namespace brellin::test {
namespace {

using brellin::testing::TempDir;

// Reads an Exec value back the way a desktop reads it: first the string
// escapes of the key, then the quoting of the arguments. Returns the
// arguments (a field code stays as its text), or one complaint when a
// backquote or dollar sign stands unescaped inside quotes.
std::vector<std::string> readExec(const std::string& value) {
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            unescaped += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
        } else {
            unescaped += value[i];
        }
    }
    std::vector<std::string> arguments;
    std::size_t i = 0;
    while (i < unescaped.size()) {
        if (unescaped[i] == ' ') {
            ++i;
            continue;
        }
        std::string argument;
        if (unescaped[i] == '"') {
            for (++i; i < unescaped.size() && unescaped[i] != '"'; ++i) {
                if (unescaped[i] == '\\' && i + 1 < unescaped.size()) {
                    ++i;
                } else if (unescaped[i] == '`' || unescaped[i] == '$') {
                    // Must be escaped inside quotes: a shell would expand it.
                    return {"unescaped " + std::string(1, unescaped[i])};
                }
                argument += unescaped[i];
            }
            ++i;
        } else {
            while (i < unescaped.size() && unescaped[i] != ' ') argument += unescaped[i++];
        }
        // "%%" is a literal percent sign in any argument.
        std::string literal;
        for (std::size_t k = 0; k < argument.size(); ++k) {
            literal += argument[k];
            if (argument[k] == '%' && k + 1 < argument.size() && argument[k + 1] == '%') ++k;
        }
        arguments.push_back(literal);
    }
    return arguments;
}

std::string execLine(const std::string& entry) {
    const std::size_t at = entry.find("\nExec=");
    if (at == std::string::npos) return std::string();
    const std::size_t end = entry.find('\n', at + 1);
    return entry.substr(at + 6, end - at - 6);
}

bool installed(const char* tool) {
    for (const char* folder : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
        if (::access((std::string(folder) + tool).c_str(), X_OK) == 0) return true;
    }
    return false;
}

TEST(DesktopEntryExec, EveryReservedCharacterOfThePathSurvivesAndControlCharactersAreRefused) {
    std::string quoted;
    ASSERT_TRUE(FileAssociations::quoteExecArgument("/opt/my apps/brellin", quoted));
    EXPECT_EQ(quoted, "\"/opt/my apps/brellin\"");
    ASSERT_TRUE(FileAssociations::quoteExecArgument("/a\\b", quoted));
    // One backslash is four: one for the quoting, doubled for the key.
    EXPECT_EQ(quoted, "\"/a\\\\\\\\b\"");

    const std::vector<std::string> paths = {
        "/home/u/a \"quoted\" name/brellin", "/tmp/`id`/brellin",       "/tmp/$HOME/${x}/brellin",
        "/tmp/back\\slash\\/brellin",        "/tmp/100%/%f %u/brellin", "/tmp/semi;amp&pipe|<>~#*?()/brellin",
        "/tmp/ｆｕｌｌ 日本語/brellin",      "/tmp/'single'/brellin",
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(FileAssociations::quoteExecArgument(path, quoted));
        const std::string entry = FileAssociations::desktopEntryText(quoted, " iconplay", "");
        EXPECT_EQ(readExec(execLine(entry)), (std::vector<std::string>{path, "%f", "iconplay"}));
    }
    for (const std::string& bad :
         {std::string("/tmp/new\nline/brellin"), std::string("/tmp/tab\there"), std::string("/tmp/\x7f"),
          std::string("/tmp/\xff\xfe/brellin"), std::string("/tmp/\xc0\xaf/brellin"), std::string()}) {
        EXPECT_FALSE(FileAssociations::quoteExecArgument(bad, quoted)) << bad;
    }
}

TEST(MimeAppsList, OurLinesAreMergedAndEveryForeignLineSurvives) {
    const std::string existing =
        "# written by hand\n"
        "[Default Applications]\n"
        "text/plain=gedit.desktop\n"
        "audio/midi=timidity.desktop;brellin.desktop;\n"
        "\n"
        "[Added Associations]\n"
        "audio/midi=timidity.desktop;\n"
        "audio/midi=vlc.desktop;\n"
        "[Removed Associations]\n"
        "application/x-brellin-playlist=other.desktop;\n";
    const std::string merged =
        FileAssociations::mergeMimeApps(existing, {"audio/midi", "application/x-brellin-playlist"}, "brellin.desktop");
    EXPECT_EQ(merged,
              "# written by hand\n"
              "[Default Applications]\n"
              "text/plain=gedit.desktop\n"
              "audio/midi=brellin.desktop;timidity.desktop;\n"
              "application/x-brellin-playlist=brellin.desktop;\n"
              "\n"
              "[Added Associations]\n"
              "audio/midi=brellin.desktop;timidity.desktop;vlc.desktop;\n"
              "application/x-brellin-playlist=brellin.desktop;\n"
              "[Removed Associations]\n"
              "application/x-brellin-playlist=other.desktop;\n");
    // Merging again changes nothing; an empty file gets both sections.
    EXPECT_EQ(
        FileAssociations::mergeMimeApps(merged, {"audio/midi", "application/x-brellin-playlist"}, "brellin.desktop"),
        merged);
    EXPECT_EQ(FileAssociations::mergeMimeApps("", {"audio/midi"}, "brellin.desktop"),
              "[Default Applications]\naudio/midi=brellin.desktop;\n\n"
              "[Added Associations]\naudio/midi=brellin.desktop;\n");
}

struct LinkRig {
    TempDir home;
    FileAssociations links;
    std::string data = home.path(".local/share");
    std::string config = home.path(".config");

    LinkRig() {
        links.dataHome = data;
        links.configHome = config;
        links.programPath = home.path("my programs/brellin");
        std::filesystem::create_directories(config);
        home.write(".config/mimeapps.list", "[Default Applications]\ntext/plain=gedit.desktop\n");
    }
};

TEST(FileAssociations, WritesTheEntryThePackageAndTheDefaultsIntoTheXdgFolders) {
    LinkRig rig;
    LinkTypes types;
    types.brl = true;
    types.mid = true;
    ASSERT_EQ(rig.links.write(types, " play"), LinkResult::Written) << rig.links.failedStep;

    const std::string entry = rig.home.read(".local/share/applications/brellin.desktop");
    EXPECT_EQ(readExec(execLine(entry)), (std::vector<std::string>{rig.links.programPath, "%f", "play"}));
    EXPECT_NE(entry.find("MimeType=audio/midi;audio/x-midi;application/x-brellin-playlist;\n"), std::string::npos);
    const std::string package = rig.home.read(".local/share/mime/packages/brellin.xml");
    EXPECT_NE(package.find("<mime-type type=\"application/x-brellin-playlist\">"), std::string::npos);
    EXPECT_NE(package.find("<glob pattern=\"*.rmi\"/>"), std::string::npos);
    const std::string list = rig.home.read(".config/mimeapps.list");
    EXPECT_NE(list.find("text/plain=gedit.desktop\n"), std::string::npos);
    EXPECT_NE(list.find("audio/midi=brellin.desktop;\n"), std::string::npos);
    EXPECT_NE(list.find("application/x-brellin-playlist=brellin.desktop;\n"), std::string::npos);
    // No temporary file is left behind.
    for (const auto& file : std::filesystem::directory_iterator(rig.config)) {
        EXPECT_EQ(file.path().filename().string().rfind(".brellin-", 0), std::string::npos) << file.path();
    }

    if (installed("update-mime-database")) {
        const std::string globs = rig.home.read(".local/share/mime/globs2");
        EXPECT_NE(globs.find(":application/x-brellin-playlist:*.brl"), std::string::npos) << globs;
        EXPECT_NE(globs.find(":audio/midi:*.rmi"), std::string::npos) << globs;
        EXPECT_NE(globs.find(":audio/midi:*.kar"), std::string::npos) << globs;
    }
    if (installed("update-desktop-database")) {
        const std::string cache = rig.home.read(".local/share/applications/mimeinfo.cache");
        EXPECT_NE(cache.find("application/x-brellin-playlist=brellin.desktop;"), std::string::npos) << cache;
    }
    if (installed("desktop-file-validate")) {
        const std::string command =
            "desktop-file-validate '" + rig.home.path(".local/share/applications/brellin.desktop") + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}

TEST(FileAssociations, NothingTickedWritesNothingAndAnUnusablePathIsRefusedFirst) {
    LinkRig rig;
    EXPECT_EQ(rig.links.write(LinkTypes{}, ""), LinkResult::Written);
    EXPECT_FALSE(std::filesystem::exists(rig.data));
    EXPECT_EQ(rig.home.read(".config/mimeapps.list"), "[Default Applications]\ntext/plain=gedit.desktop\n");

    LinkTypes all{true, true, true, true};
    rig.links.programPath = rig.home.path("new\nline/brellin");
    EXPECT_EQ(rig.links.write(all, ""), LinkResult::NoProgramPath);
    EXPECT_FALSE(std::filesystem::exists(rig.data));
}

TEST(FileAssociations, TheDialogReportsSuccessAndAFolderThatCannotBeWritten) {
    registerSettingsTemplates();
    LinkRig rig;
    FakeWindowSystem system;
    Settings settings;
    struct Host : FakeDialogHost {
        int messageBox(const char* text, const char* caption, std::uint32_t flags) override {
            boxes.push_back({text, caption, flags});
            return IDOK;
        }
        std::vector<MessageBoxCall> boxes;
    } host;
    ConfigureDialog dialog(system, settings, rig.home.root.string() + "/");
    dialog.associations = rig.links;
    dialog.associations.runTools = false;
    Dialog::openingDialog = &dialog;
    host.deliver(WM_INITDIALOG);

    // Nothing ticked: the report, and nothing written.
    host.deliver(WM_COMMAND, makeCommandWParam(0, IDC_SET_LINKS));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Registed to registory.");
    EXPECT_EQ(host.boxes[0].caption, "REPORT");
    EXPECT_EQ(host.boxes[0].flags, MB_OK | MB_ICONWARNING);
    EXPECT_FALSE(host.ended);

    // The data folder is a file: the first step fails, the list is untouched.
    rig.home.write(".local", "not a folder");
    host.setChecked(IDC_LINK_RMI, true);
    host.selectItem(IDC_LINK_MODE, 2);
    host.deliver(WM_COMMAND, makeCommandWParam(0, IDC_SET_LINKS));
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[1].text, "Cannot access to registory.");
    EXPECT_EQ(host.boxes[1].caption, "ERROR");
    EXPECT_EQ(rig.home.read(".config/mimeapps.list"), "[Default Applications]\ntext/plain=gedit.desktop\n");

    // A read-only configuration folder (root writes anyway, so only as a user):
    // the entry and the package are written, the list cannot be.
    std::filesystem::remove(rig.home.path(".local"));
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(rig.config.c_str(), 0500), 0);
        host.deliver(WM_COMMAND, makeCommandWParam(0, IDC_SET_LINKS));
        ::chmod(rig.config.c_str(), 0700);
        ASSERT_EQ(host.boxes.size(), 3u);
        EXPECT_EQ(host.boxes[2].text, "Cannot access to registory.");
        EXPECT_TRUE(std::filesystem::exists(rig.home.path(".local/share/applications/brellin.desktop")));
        EXPECT_EQ(rig.home.read(".config/mimeapps.list"), "[Default Applications]\ntext/plain=gedit.desktop\n");
    }

    // The mode word reaches the entry; with the folder writable all is written.
    host.deliver(WM_COMMAND, makeCommandWParam(0, IDC_SET_LINKS));
    EXPECT_EQ(host.boxes.back().text, "Registed to registory.");
    const std::string entry = rig.home.read(".local/share/applications/brellin.desktop");
    EXPECT_EQ(readExec(execLine(entry)), (std::vector<std::string>{rig.links.programPath, "%f", "iconplay"}));
    EXPECT_NE(rig.home.read(".config/mimeapps.list").find("audio/midi=brellin.desktop;"), std::string::npos);

    // A program path that cannot be written into a command line.
    dialog.associations.programPath = "/tmp/new\nline/brellin";
    host.deliver(WM_COMMAND, makeCommandWParam(0, IDC_SET_LINKS));
    EXPECT_EQ(host.boxes.back().text, "Cannot get pathname Brellin.exe.");
    EXPECT_EQ(host.boxes.back().caption, "ERROR");
}

TEST(FileAssociations, TheFoldersComeFromXdgVariablesOrTheHome) {
    std::string data, config;
    ASSERT_TRUE(FileAssociations::foldersFromEnvironment("/x/data", "/x/config", "/home/u", data, config));
    EXPECT_EQ(data, "/x/data");
    EXPECT_EQ(config, "/x/config");
    // Relative XDG values are ignored.
    ASSERT_TRUE(FileAssociations::foldersFromEnvironment("rel", "", "/home/u", data, config));
    EXPECT_EQ(data, "/home/u/.local/share");
    EXPECT_EQ(config, "/home/u/.config");
}

}  // namespace
}  // namespace brellin::test
