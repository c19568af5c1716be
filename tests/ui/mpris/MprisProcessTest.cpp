// brellin on a private session bus (dbus-run-session) as a desktop media
// controller sees it: gdbus calls the player's interfaces and gdbus monitor
// records its signals. The program runs from a temporary folder with the
// build's sound font and skin, offscreen, with the null audio device.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"

namespace {

using brellin::testing::TempDir;
namespace fs = std::filesystem;
namespace midi = brellin::testing;

bool onPath(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Everything between "== name" and the next "==" line of the script's output.
std::string section(const std::string& output, const std::string& name) {
    const std::string mark = "== " + name + "\n";
    const std::size_t begin = output.find(mark);
    if (begin == std::string::npos) return std::string();
    const std::size_t from = begin + mark.size();
    const std::size_t end = output.find("\n==", from);
    return output.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

std::string trackId(const std::string& text) {
    std::smatch match;
    return std::regex_search(text, match, std::regex("objectpath '([^']*)'")) ? match[1].str() : std::string();
}

// The session: a first instance with song A, a second start that makes
// the demo song current, then the controller's calls. Waits poll with
// generous limits: the suite runs two tests at a time.
const char* const script = R"(
cd "$ROOT"
export QT_QPA_PLATFORM=offscreen BRELLIN_AUDIO_DEVICE=null XDG_RUNTIME_DIR="$ROOT/run"
gdbus monitor --session --dest org.mpris.MediaPlayer2.brellin > monitor.log 2>&1 &
MONITOR=$!
./app/brellin a.mid > first.log 2>&1 &
PLAYER=$!
D="gdbus call --session -d org.mpris.MediaPlayer2.brellin -o /org/mpris/MediaPlayer2"
GET="$D -m org.freedesktop.DBus.Properties.Get"
for i in $(seq 300); do $GET org.mpris.MediaPlayer2 Identity > identity.txt 2>/dev/null && break; sleep 0.1; done
./app/brellin "$ROOT/demo.mid" stop > second.log 2>&1
echo "== identity"; cat identity.txt
$D -m org.mpris.MediaPlayer2.Player.PlayPause > /dev/null
for i in $(seq 300); do $GET org.mpris.MediaPlayer2.Player Metadata | grep -q "Ode to Joy" && break; sleep 0.1; done
echo "== status"; $GET org.mpris.MediaPlayer2.Player PlaybackStatus
echo "== metadata"; $GET org.mpris.MediaPlayer2.Player Metadata
$D -m org.mpris.MediaPlayer2.Player.Next > /dev/null
for i in $(seq 300); do $GET org.mpris.MediaPlayer2.Player Metadata | grep -q "a.mid" && break; sleep 0.1; done
echo "== next"; $GET org.mpris.MediaPlayer2.Player Metadata
$D -m org.mpris.MediaPlayer2.Player.OpenUri "file://$ROOT/b%20song.mid" > /dev/null
for i in $(seq 300); do $GET org.mpris.MediaPlayer2.Player Metadata | grep -q "b%20song" && break; sleep 0.1; done
echo "== opened"; $GET org.mpris.MediaPlayer2.Player Metadata; $GET org.mpris.MediaPlayer2.Player PlaybackStatus
echo "== refused"; $D -m org.mpris.MediaPlayer2.Player.OpenUri "http://example.org/x.mid" 2>&1 | grep -c NotSupported
$D -m org.mpris.MediaPlayer2.Player.OpenUri "file://$ROOT/sing.kar" > /dev/null
for i in $(seq 300); do $GET org.mpris.MediaPlayer2.Player Metadata | grep -q "asText" && break; sleep 0.1; done
echo "== karaoke"; $GET org.mpris.MediaPlayer2.Player Metadata
SET="$D -m org.freedesktop.DBus.Properties.Set org.mpris.MediaPlayer2.Player"
$SET Shuffle "<true>" > /dev/null
echo "== shuffled"; $GET org.mpris.MediaPlayer2.Player Shuffle; $GET org.mpris.MediaPlayer2.Player LoopStatus
$SET LoopStatus "<'None'>" > /dev/null
echo "== no loop"; $GET org.mpris.MediaPlayer2.Player Shuffle; $GET org.mpris.MediaPlayer2.Player LoopStatus
echo "== track"; $SET LoopStatus "<'Track'>" 2>&1 | grep -c NotSupported
echo "== artist"; $GET org.mpris.MediaPlayer2.Player Metadata | grep -c xesam:artist
sleep 0.5
$D -m org.mpris.MediaPlayer2.Quit > /dev/null
for i in $(seq 300); do kill -0 $PLAYER 2>/dev/null || break; sleep 0.1; done
wait $PLAYER; echo "== exit"; echo $?
kill $MONITOR
echo "== monitor"; cat monitor.log
echo "== log"; cat first.log
)";

TEST(MprisProcess, ControllerPlaysStepsAndQuitsThroughTheBus) {
    if (!onPath("dbus-run-session") || !onPath("gdbus")) GTEST_SKIP() << "dbus-run-session or gdbus missing";
    TempDir root;
    fs::create_directory(root.path("app"));
    fs::create_directory(root.path("run"));
    ::chmod(root.path("run").c_str(), 0700);
    const fs::path build = BRELLIN_BINARY_DIR;
    fs::copy_file(build / "brellin", root.path("app/brellin"));
    for (const auto& entry : fs::directory_iterator(build)) {
        const std::string name = entry.path().filename().string();
        const bool skin =
            name == "Brellin.ini" || (name.rfind("Brellin", 0) == 0 && entry.path().extension() == ".bmp");
        if (skin || name == "small.brf") fs::copy_file(entry.path(), root.path("app/" + name));
    }
    const std::string body = midi::noteOn(0, 0, 60, 100) + midi::noteOff(96 * 60, 0, 60) + midi::endOfTrack();
    root.write("a.mid", midi::header(0, 1, 96) + midi::track(body));
    root.write("b song.mid", midi::header(0, 1, 96) + midi::track(body));
    // A karaoke file: its words are text events; "/" starts a line, a backslash a paragraph.
    std::string words = midi::meta(0, 3, "Twinkle") + midi::meta(0, 1, "@KMIDI KARAOKE FILE");
    for (const char* syllable : {"\\Twin", "kle ", "twin", "kle", "/lit", "tle ", "star", "\\How ", "I"})
        words += midi::meta(48, 1, syllable);
    root.write("sing.kar", midi::header(0, 1, 96) + midi::track(words + body));
    fs::copy_file(fs::path(BRELLIN_SOURCE_DIR) / "assets/demo.mid", root.path("demo.mid"));
    root.write("session.sh", script);

    const std::string command = "ROOT='" + root.root.string() + "' timeout 180 dbus-run-session -- sh '" +
                                root.path("session.sh") + "' > '" + root.path("out.txt") + "' 2>&1";
    const int status = std::system(command.c_str());
    const std::string output = root.read("out.txt");
    ASSERT_TRUE(WIFEXITED(status)) << output;

    EXPECT_NE(section(output, "identity").find("'Brellin'"), std::string::npos) << output;
    EXPECT_NE(section(output, "status").find("'Playing'"), std::string::npos) << output;
    const std::string playing = section(output, "metadata");
    EXPECT_NE(playing.find("'xesam:title': <'Ode to Joy (Brellin demo)'>"), std::string::npos) << output;
    // The demo song lasts about a minute; the scan gives it in microseconds.
    std::smatch length;
    ASSERT_TRUE(std::regex_search(playing, length, std::regex("'mpris:length': <int64 ([0-9]+)>"))) << output;
    EXPECT_GT(std::stoll(length[1].str()), 30'000'000);
    EXPECT_LT(std::stoll(length[1].str()), 300'000'000);
    EXPECT_NE(playing.find("demo.mid'"), std::string::npos) << output;

    const std::string next = section(output, "next");
    // The first start named its song relative to its folder; the URL is absolute.
    EXPECT_NE(next.find("'xesam:url': <'file://" + root.root.string() + "/a.mid'>"), std::string::npos) << output;
    EXPECT_FALSE(trackId(playing).empty()) << output;
    EXPECT_NE(trackId(playing), trackId(next)) << output;

    // The change of song was announced with the new song's metadata.
    const std::string monitor = section(output, "monitor");
    EXPECT_NE(monitor.find("PropertiesChanged ('org.mpris.MediaPlayer2.Player', {'Metadata'"), std::string::npos)
        << output;
    EXPECT_NE(monitor.find(trackId(next)), std::string::npos) << output;

    // OpenUri takes a local file as "brellin FILE play" does; other schemes are refused.
    const std::string opened = section(output, "opened");
    EXPECT_NE(opened.find("'xesam:title': <'b song'>"), std::string::npos) << output;
    EXPECT_NE(opened.find("'Playing'"), std::string::npos) << output;
    EXPECT_EQ(section(output, "refused"), "1") << output;
    // A karaoke file opens as a song, and its whole words are its text.
    const std::string karaoke = section(output, "karaoke");
    EXPECT_NE(karaoke.find("'xesam:asText': <'Twinkle twinkle\\nlittle star\\n\\nHow I'>"), std::string::npos)
        << output;
    EXPECT_NE(karaoke.find("sing.kar'"), std::string::npos) << output;

    // Shuffle and LoopStatus are the play modes; no mode repeats one song.
    EXPECT_EQ(section(output, "shuffled"), "(<true>,)\n(<'Playlist'>,)") << output;
    EXPECT_EQ(section(output, "no loop"), "(<false>,)\n(<'None'>,)") << output;
    EXPECT_EQ(section(output, "track"), "1") << output;
    // A MIDI file names no artist: none is made up.
    EXPECT_EQ(section(output, "artist"), "0") << output;

    EXPECT_EQ(section(output, "exit"), "0") << output;
    const std::string saved = root.read("app/Brellin.cfg");
    EXPECT_NE(saved.find("LastPlayFileName="), std::string::npos) << saved;
    EXPECT_NE(saved.find("PlayMode=2"), std::string::npos) << saved;
}

// Pause, seek and rate of one long song.
const char* const pauseScript = R"(
cd "$ROOT"
export QT_QPA_PLATFORM=offscreen BRELLIN_AUDIO_DEVICE=null XDG_RUNTIME_DIR="$ROOT/run"
gdbus monitor --session --dest org.mpris.MediaPlayer2.brellin > monitor.log 2>&1 &
MONITOR=$!
./app/brellin long.mid > first.log 2>&1 &
PLAYER=$!
D="gdbus call --session -d org.mpris.MediaPlayer2.brellin -o /org/mpris/MediaPlayer2"
P="org.mpris.MediaPlayer2.Player"
GET="$D -m org.freedesktop.DBus.Properties.Get $P"
SET="$D -m org.freedesktop.DBus.Properties.Set $P"
for i in $(seq 300); do $GET CanSeek > can.txt 2>/dev/null && break; sleep 0.1; done
echo "== can"; cat can.txt; $GET CanPause; $GET MinimumRate; $GET MaximumRate
$D -m $P.Play > /dev/null
for i in $(seq 300); do $GET PlaybackStatus | grep -q Playing && break; sleep 0.1; done
sleep 1
$D -m $P.Pause > /dev/null
for i in $(seq 300); do $GET PlaybackStatus | grep -q Paused && break; sleep 0.1; done
echo "== paused"; $GET PlaybackStatus; $GET Position
sleep 1
echo "== still"; $GET Position
$D -m $P.Play > /dev/null
for i in $(seq 300); do $GET PlaybackStatus | grep -q Playing && break; sleep 0.1; done
echo "== resumed"; $GET PlaybackStatus
TRACK=$($GET Metadata | sed -n "s/.*objectpath '\([^']*\)'.*/\1/p")
$D -m $P.SetPosition "$TRACK" 30000000 > /dev/null
echo "== set"; $GET Position
$D -m $P.Seek 10000000 > /dev/null
echo "== sought"; $GET Position
$D -m $P.Seek -- -100000000 > /dev/null
echo "== back"; $GET Position
$SET Rate "<0.5>" > /dev/null
echo "== rate"; $GET Rate
$SET Rate "<3.0>" > /dev/null
echo "== fastest"; $GET Rate
$D -m $P.PlayPause > /dev/null
for i in $(seq 300); do $GET PlaybackStatus | grep -q Paused && break; sleep 0.1; done
$D -m $P.Stop > /dev/null
for i in $(seq 300); do $GET PlaybackStatus | grep -q Stopped && break; sleep 0.1; done
echo "== stopped"; $GET PlaybackStatus; $GET Position
sleep 0.5
$D -m org.mpris.MediaPlayer2.Quit > /dev/null
for i in $(seq 300); do kill -0 $PLAYER 2>/dev/null || break; sleep 0.1; done
wait $PLAYER; echo "== exit"; echo $?
kill $MONITOR
echo "== monitor"; cat monitor.log
)";

std::int64_t microseconds(const std::string& text) {
    std::smatch match;
    return std::regex_search(text, match, std::regex("int64 (-?[0-9]+)")) ? std::stoll(match[1].str()) : -1;
}

}  // namespace

TEST(MprisProcess, PauseHoldsThePositionAndSeekAndRateMoveIt) {
    if (!onPath("dbus-run-session") || !onPath("gdbus")) GTEST_SKIP() << "dbus-run-session or gdbus missing";
    TempDir root;
    fs::create_directory(root.path("app"));
    fs::create_directory(root.path("run"));
    ::chmod(root.path("run").c_str(), 0700);
    const fs::path build = BRELLIN_BINARY_DIR;
    fs::copy_file(build / "brellin", root.path("app/brellin"));
    fs::copy_file(build / "small.brf", root.path("app/small.brf"));
    // Two minutes of one note.
    const std::string body = midi::noteOn(0, 0, 60, 100) + midi::noteOff(96 * 240, 0, 60) + midi::endOfTrack();
    root.write("long.mid", midi::header(0, 1, 96) + midi::track(body));
    root.write("session.sh", pauseScript);
    const std::string command = "ROOT='" + root.root.string() + "' timeout 180 dbus-run-session -- sh '" +
                                root.path("session.sh") + "' > '" + root.path("out.txt") + "' 2>&1";
    const int status = std::system(command.c_str());
    const std::string output = root.read("out.txt");
    ASSERT_TRUE(WIFEXITED(status)) << output;

    EXPECT_EQ(section(output, "can"), "(<true>,)\n(<true>,)\n(<0.5>,)\n(<2.0>,)") << output;
    // Paused after about a second of playing, the position stands still.
    const std::string paused = section(output, "paused");
    EXPECT_NE(paused.find("'Paused'"), std::string::npos) << output;
    const std::int64_t at = microseconds(paused);
    EXPECT_GT(at, 500'000) << output;
    EXPECT_LT(at, 10'000'000) << output;
    EXPECT_EQ(microseconds(section(output, "still")), at) << output;
    EXPECT_NE(section(output, "resumed").find("'Playing'"), std::string::npos) << output;
    // SetPosition, then Seek forward and back (not before the start).
    const std::int64_t set = microseconds(section(output, "set"));
    EXPECT_GE(set, 30'000'000) << output;
    EXPECT_LT(set, 32'000'000) << output;
    const std::int64_t sought = microseconds(section(output, "sought"));
    EXPECT_GE(sought, set + 10'000'000) << output;
    EXPECT_LT(sought, set + 12'000'000) << output;
    EXPECT_LT(microseconds(section(output, "back")), 2'000'000) << output;
    // The rate is the song's speed, held to 0.5 … 2.0.
    EXPECT_EQ(section(output, "rate"), "(<0.5>,)") << output;
    EXPECT_EQ(section(output, "fastest"), "(<2.0>,)") << output;
    // Stop stops, also while paused.
    EXPECT_EQ(section(output, "stopped"), "(<'Stopped'>,)\n(<int64 0>,)") << output;
    EXPECT_EQ(section(output, "exit"), "0") << output;
    const std::string monitor = section(output, "monitor");
    EXPECT_NE(monitor.find("'PlaybackStatus': <'Paused'>"), std::string::npos) << output;
    EXPECT_NE(monitor.find("Player.Seeked (int64 "), std::string::npos) << output;
    EXPECT_NE(monitor.find("'Rate': <0.5>"), std::string::npos) << output;
}
