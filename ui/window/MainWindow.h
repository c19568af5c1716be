// MainWindow: the display window, the player's only top-level window.
//
// Its whole surface is the skin: five buttons, the title area, the clock,
// the menu area and the 16-bar level meter, composed in the skin's display
// Surface (the window's back buffer). It owns the transport (startPlayback,
// stopPlayback), the Settings, the PlayList, the Skin, the menu and the
// engine, and it hears the Sequencer through three listeners. Its 100-ms
// timer steps to the next song after one ends, scrolls the title, runs the
// clock and lets the meter bars fall.
//
// Threads: everything runs on the user-interface thread except the three
// listeners. They are called on engine threads (the render thread for note
// and text events, the Sequencer's play thread for the song's end) and only
// record: levels, the end-of-song flag, a copy of the song's title, followed
// by a posted WM_COMMAND 9000, and where the last lyric event reached lies in
// the song. Those fields are atomics or are handed over through an atomic
// flag, so no lock is taken on the engine side. The timer shows the lyric
// line that is due in the title area (the lyrics themselves are read from
// the loaded song when it starts).
//
// Every platform call goes through the window's host; the tick count comes
// from the window system, so tests drive time themselves.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "display/Skin.h"
#include "engine/Engine.h"
#include "engine/Messages.h"
#include "midi/SongLyrics.h"
#include "settings/Settings.h"
#include "ui/framework/Menu.h"
#include "ui/framework/Window.h"
#include "ui/model/PlayList.h"
#include "ui/model/PlayListHost.h"
#include "ui/window/DialogRegistry.h"
#include "ui/window/MediaState.h"
#include "ui/window/Resources.h"

namespace brellin {

class MainWindow;

class MainWindow : public Window, public PlayListHost, public MessageSink {
public:
    // Drag starts this long after the press (ms).
    static constexpr std::uint32_t DRAG_DELAY = 100;
    // Room the scrolling title keeps: it rests 20 ticks at its start, and
    // scrollLimit adds 20 pixels to the overflow.
    static constexpr std::int32_t SCROLL_REST = 20;
    // Ticks the title rests at its end before it jumps back.
    static constexpr std::int32_t SCROLL_END_REST = 30;
    static constexpr const char* unsupportedText = "Unsupported data.";
    // What an empty display says, so a first start tells how to begin.
    static constexpr const char* openHintText = "Eject: open a file";
    // Timer ticks (100 ms) a volume change stays on the title area.
    static constexpr std::int32_t VOLUME_SHOW_TICKS = 10;
    // Volume steps of one wheel notch (WHEEL_DELTA); a key press is one step.
    static constexpr std::int32_t WHEEL_VOLUME_STEP = 4;
    // Timer ticks a file of a play list that cannot be played stays named on
    // the display before the list goes on.
    static constexpr std::int32_t SKIP_TICKS = 20;
    // Pixels over which a title cut by the title area's right edge fades out.
    static constexpr std::int32_t TITLE_FADE_WIDTH = 12;
    // Lyrics: a line shows this long (ms) before its first syllable is due,
    // once the line before it has been sung to its end; a line stays up to
    // LYRIC_HOLD_MS after its last syllable, and when the next one is due
    // later than that, the title shows in between.
    static constexpr std::uint32_t LYRIC_LEAD_MS = 500;
    static constexpr std::uint32_t LYRIC_HOLD_MS = 3000;

    explicit MainWindow(WindowSystem& system);
    ~MainWindow() override;

    // Framework slots. onMessage takes a second start's command line
    // (WM_COPYDATA with the hand-over tag) before the normal routing.
    LResult onMessage(MessageId msg, WParam wParam, LParam lParam) override;
    LResult onCommand(std::uint16_t code, std::uint16_t id, LParam lParam) override;
    LResult onLButtonDown(WParam keys, std::int32_t x, std::int32_t y) override;
    LResult onLButtonUp(WParam keys, std::int32_t x, std::int32_t y) override;
    LResult onMouseMove(WParam keys, std::int32_t x, std::int32_t y) override;
    // A right click anywhere on the display opens popup 0 at the pointer.
    LResult onRButtonUp(WParam keys, std::int32_t x, std::int32_t y) override;
    // The wheel over the display turns the volume as the volume keys do.
    LResult onMouseWheel(WParam keys, std::int32_t delta, std::int32_t x, std::int32_t y) override;
    // The five buttons' tips (the Play tip says what a click does now).
    std::string toolTipAt(std::int32_t x, std::int32_t y) const override;
    LResult onKeyDown(WParam virtualKey, LParam lParam) override;
    // Only follows Shift, which turns Previous and Next into seeks.
    LResult onKeyUp(WParam virtualKey, LParam lParam) override;
    LResult onClose() override;
    LResult onTimer(std::uintptr_t timerId) override;
    LResult preCreate(CreationRecord& record) override;

    // Reads the skin named by "SkinFileName", places and sizes the window,
    // and composes the whole display (background, Play state, title, meter).
    // `folder` (ending in "/"): where the skin is; null: the program's folder.
    void loadSkinAndPlace(const char* folder = nullptr);
    // The 100-ms display timer.
    void startDisplayTimer();
    // The timer's check of the sound device and of the MIDI port songs play
    // on: when one went away (the JACK server quit, the synthesizer was
    // unplugged), stops playing and says so, once.
    void checkDeviceLost();
    bool deviceLostShown = false;
    bool midiPortLostShown = false;

    // The transport (PlayListHost).
    void startPlayback() override;
    void stopPlayback() override;
    bool isPlaying() const override { return playing; }
    // Play/Stop toggle: command 40010 and the Play button; the key variant
    // switches the display on before stopping and repaints afterwards. While
    // paused, both resume.
    void togglePlayback();
    void togglePlaybackByKey();

    // Pause and resume in place (the Pause key, the menus, a media
    // controller): the song holds its tick and the clock blinks. Nothing
    // while stopped; togglePause starts a stopped song.
    void pausePlayback();
    void resumePlayback();
    void togglePause();
    bool isPaused() const { return paused; }
    // Seeks in the song that plays: by `ms` (back to 0 at most; past the
    // song's end the list goes on as after its end) or to `ms`.
    void seekBy(std::int64_t ms);
    void seekTo(std::uint32_t ms);
    // Where the song is, in ms of the song (at 100 %); 0 while stopped.
    std::uint32_t songPosition() const;
    // The song's speed (percent, 50..200) and key (semitones, -12..+12):
    // they hold for the next songs until changed, and are not saved. The new
    // value shows on the display for a second, as the volume does.
    void setSpeed(std::int32_t percent);
    void changeSpeed(std::int32_t step);
    void changeKey(std::int32_t step);
    void resetSpeedAndKey();
    // Resume on start: notes where this run leaves off (entry, and position
    // if a song plays) in the settings, and brings it back at the next start.
    void noteResumePoint();
    void resumeAtStart();
    static constexpr std::int32_t SEEK_STEP = 10000;  // ms, Shift with Previous or Next
    static constexpr std::int32_t SPEED_STEP = 10;    // percent

    // The title area: repaint from the background, text shifted left by
    // `offset` pixels.
    void showTitle(const char* text, std::int32_t offset);
    // The play list's title of a newly current file.
    void showTitle(const char* title) override;
    void rebuildRecentMenus(const TextBuffer* recent) override;

    // Display power ("OFF when playing"), through the window system.
    void displayOff();
    void displayOn();

    // Level-meter toggle (a click in the meter area; once at start-up).
    void toggleLevelMeter();
    // VolumeUp / VolumeDown keys, and giving the volume to the engine
    // (0..127; the setting may hold 128).
    void changeVolume(std::int32_t step);
    void applyVolume();

    // The first button whose rectangle holds the point, -1 for none.
    std::int32_t hitButton(std::int32_t x, std::int32_t y) const { return skin.hitButton(x, y); }
    void drawButton(std::int32_t index, bool pressed);

    // Whether command `id` does something now; the menus show the others disabled.
    bool isCommandAvailable(std::uint16_t id) const;
    // Re-applies isCommandAvailable to the menu's items.
    void updateMenuState();

    // Runs the open-files flow (Eject button, FileOpen key, command 40013).
    void openFiles();

    // MessageSink: the engine's numbered messages as message boxes owned by
    // this window.
    void showMessageBox(const char* text, const char* caption) override;
    // The wait cursor while the sound font loads, through the start-up sink.
    void setBusy(bool busy) override {
        if (startupMessages != nullptr) startupMessages->setBusy(busy);
    }

    // A second start's command line: opens its file (two tokens or more)
    // and applies its command word ("play"/"iconplay", "stop", "prev",
    // "next"). False when the text holds no token.
    bool handleHandOver(const char* commandLine);
    // Files and play lists dropped on the window, opened one after the other
    // as a second start would open each (play lists merged, the last file
    // current); a playing song restarts on the new current entry once.
    // False when no path was given.
    bool handleDroppedFiles(const char* const* paths, std::size_t count);

    // What a desktop media controller is told: play state, song, title,
    // length, clock position and volume. User-interface thread only.
    MediaState mediaState() const;
    // Sets the volume (0..128, clamped) as the volume keys would.
    void setVolume(std::int32_t value) { changeVolume(value - settings.Volume); }
    // Sets the play mode as the play-mode dialog would; the next song follows it.
    void setPlayMode(PlayMode mode);
    // Tells the media observer that something it reports may have changed
    // (a dialog changed the play mode).
    void mediaMayHaveChanged() { notifyMedia(); }

    // "%d:%02d" of a clock value in ms (minutes are not limited).
    static void formatClock(std::uint32_t ms, char* out, std::size_t size);

    Settings settings;
    PlayList playList;
    Skin skin;
    Engine engine;
    Menu menu{mainMenu()};
    // The dialogs the commands open; the version dialog is there from the start.
    DialogRegistry dialogs;

    std::int32_t pressX = 0;
    std::int32_t pressY = 0;
    bool dragging = false;
    bool buttonDown = false;
    std::uint32_t dragStartTick = 0;
    std::int32_t scrollPos = -1;
    std::int32_t scrollLimit = 0;
    // The song's name as UTF-8, at most 255 characters (so up to 4 bytes each).
    char songTitle[4 * 255 + 1] = {};
    bool playing = false;
    // The end-of-song notice is the engine's (engine.songEnded): it outlives
    // Sequencers and is cleared by every engine restart.
    bool windowHidden = false;
    std::atomic<bool> titleEventSeen{false};
    bool displayIsOn = true;
    std::uint32_t playStartTick = 0;
    std::int32_t songLength = 0;
    std::atomic<std::int32_t> levels[16] = {};
    bool modalOpen = false;
    // Whether the tray icon is shown. Without it the window is never hidden
    // ("iconplay", 40006 and "TrayIconMode" leave it shown): nothing else
    // could bring it back.
    bool trayIconShown = false;
    // Where messages go while there is no window yet (owner-less boxes at
    // start-up); null: stderr.
    MessageSink* startupMessages = nullptr;
    // Told on the user-interface thread when mediaState() may have changed;
    // null: nobody listens. Not owned.
    MediaObserver* mediaObserver = nullptr;

    // What the display shows now (the title area's text and offset, the
    // clock's text), for whoever needs the words rather than the pixels.
    // While a volume change shows, titleShown is that ("Vol 35").
    std::string titleShown;
    std::int32_t titleOffset = 0;
    std::string clockShown;
    // A play-list entry that could not be played is named on the display for
    // SKIP_TICKS ticks (skipTicks > 0), then the list steps on as after a
    // song's end. Entries failed one after the other since the last song
    // that played: once that reaches the list's size, playback stops.
    std::int32_t skipTicks = 0;
    std::int32_t failedInRow = 0;
    // The words of the song last started (empty: it has none), and the line
    // of them the title area shows (-1: the title).
    SongLyrics lyrics;
    std::int32_t lyricLineShown = -1;
    // The syllable playback reached last, as the timer last saw it (-1: none yet).
    std::int32_t lyricSyllable = -1;
    // A pause holds the song; the clock then shows positionBase. Playing, the
    // song is at positionBase + (tick count − playStartTick) × speed / 100.
    bool paused = false;
    std::uint32_t positionBase = 0;
    std::uint32_t seekCount = 0;

private:
    struct NoteOn : NoteOnListener {
        explicit NoteOn(MainWindow& w) : window(w) {}
        void notify() override;
        MainWindow& window;
    };
    struct TextEvent : TextEventListener {
        explicit TextEvent(MainWindow& w) : window(w) {}
        void notify() override;
        MainWindow& window;
    };

    void showSongTitle();
    // The timer's step of the lyrics: takes the syllable playback reached
    // last and shows the line that is due, or the title.
    void updateLyrics();
    // Shows lyric line `line` (-1: the title again), moved left so that
    // syllable `syllable` (-1: none sung yet) stays in view.
    void showLyricLine(std::int32_t line, std::int32_t syllable);
    void notifyMedia() {
        if (mediaObserver != nullptr) mediaObserver->mediaChanged();
    }
    void drawClock();
    // The clock showing `ms` (drawn only where the skin has a clock).
    void drawClockValue(std::uint32_t ms);
    // Draws the title area without changing what it is meant to show.
    void drawTitleArea(const char* text, std::int32_t offset);
    void showVolume();
    // A short notice over the title (volume, speed, key) for VOLUME_SHOW_TICKS ticks.
    void showNotice(const char* text);
    void drawClockText(const char* text);
    // True while a bar shows a level or a note is waiting to be shown.
    bool meterMoving() const;
    void drawMeter();
    void drawMeterFloor();
    void clearMeterArea();
    void clearLevels();
    void popupMainMenu();
    void trayMenu(LParam mouseMessage);
    void dragTo(std::int32_t x, std::int32_t y);
    void runDialogCommand(std::uint16_t id);
    // Whether `id` is a command item of a menu popup (not of a submenu).
    bool isMenuCommand(std::uint16_t id) const;
    std::uint32_t now() const { return system.tickCount(); }

    NoteOn noteOnListener{*this};
    TextEvent textEventListener{*this};

    // The song title as the text listener copied it from the song (raw
    // bytes, zero-terminated), valid once titleReady is seen set.
    char titleCopy[256] = {};
    std::uint32_t titleCopyLength = 0;
    std::atomic<bool> titleReady{false};
    // The last text or lyric event playback reached: the number reached
    // since the song started (high 32 bits) and where its text starts in
    // the song (low 32 bits). Written by the text listener only.
    std::atomic<std::uint64_t> lyricReached{0};
    // The timer's view of it: the count it last took, and the time in the
    // song of the syllable last reached and the song position it was seen at.
    std::uint32_t lyricCountSeen = 0;
    std::uint32_t lyricTime = 0;
    std::uint32_t lyricPosition = 0;
    std::int32_t lyricOffsetShown = 0;
    // Where the text listener posts command 9000; null while there is no window.
    std::atomic<WindowHost*> postTarget{nullptr};
    // The clock is drawn on every second timer pass; the first one draws.
    bool clockPass = false;
    // The media view of the song: the file's title as the play list gave it
    // (raw bytes), the file it belongs to, the file songLength was scanned from, whether songTitle is that file's
    // own name yet, and the number of files made current so far.
    std::string fileTitle;
    std::string mediaPath;
    std::string lengthPath;  // the file songLength was scanned from
    bool songTitleKnown = false;
    std::uint32_t mediaSong = 0;
    // The volume shown over the title: ticks left (0: none) and the title it
    // covers, which comes back afterwards. Wheel turns below a whole step.
    std::int32_t volumeTicks = 0;
    std::string titleBehind;
    std::int32_t titleBehindOffset = 0;
    std::int32_t wheelRest = 0;
    // The skin name last reported as failing to load.
    std::string skinReported;
    bool shiftDown = false;
    bool clockBlinkOn = false;   // paused: the clock's text is shown in this pass
    bool keepEntryOnce = false;  // the next start plays the current entry, whatever the play mode
    bool resumePointNoted = false;

    // What the timer's own drawings left on the display, so that a tick whose
    // clock text and meter frames are unchanged copies and repaints nothing.
    // Any other drawing over them makes them unknown again (overdrawn).
    std::string clockDrawn;               // the clock's text on the display; empty: unknown
    SkinRect clockArea;                   // the pixels the clock covers (its area and its text)
    std::int32_t meterShown[METER_BARS];  // frame each bar shows; -1: unknown
    void overdrawn(const SkinRect& area, std::int32_t exceptBar = -1);
    void forgetTimerDrawings();
    void drawMeterBar(std::int32_t channel, std::int32_t frame);
};

}  // namespace brellin
