#include "ui/window/MainWindow.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/ExecutablePath.h"
#include "common/TextDecoder.h"
#include "midi/MidiFileInfo.h"
#include "ui/model/CommandLine.h"
#include "ui/window/VersionDialog.h"

namespace brellin {

namespace {

// The Shift key's virtual-key code.
constexpr WParam VK_SHIFT_KEY = 16;

bool overlap(const SkinRect& a, const SkinRect& b) {
    return a.width > 0 && a.height > 0 && b.width > 0 && b.height > 0 && a.left < b.right() && b.left < a.right() &&
           a.top < b.bottom() && b.top < a.bottom();
}

// The commands the window carries out itself (see onCommand).
bool isWindowCommand(std::uint16_t id) {
    switch (id) {
        case IDM_EXIT:
        case IDM_HIDE_WINDOW:
        case IDM_SHOW_WINDOW:
        case IDM_NEXT:
        case IDM_PREVIOUS:
        case IDM_PLAY_STOP:
        case IDM_PAUSE:
        case IDM_STOP:
        case IDM_SEEK_FORWARD:
        case IDM_SEEK_BACK:
        case IDM_FASTER:
        case IDM_SLOWER:
        case IDM_KEY_UP:
        case IDM_KEY_DOWN:
        case IDM_NORMAL_SPEED_KEY:
        case IDM_SONG_TITLE:
        case IDM_TRAY_ICON: return true;
        default: return id >= IDM_RECENT_FIRST && id <= IDM_RECENT_LAST;
    }
}

// The longest prefix of a UTF-8 text that fits `limit` bytes without
// splitting a character.
std::size_t utf8Prefix(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return end;
}

}  // namespace

MainWindow::MainWindow(WindowSystem& windowSystem)
    : Window(windowSystem), playList(settings, *this), engine(settings, *this) {
    useBackBuffer(&skin.display);
    engine.listeners = EngineListeners{nullptr, &noteOnListener, &textEventListener};
    forgetTimerDrawings();
    registerVersionDialog(dialogs, system);
    updateMenuState();
}

MainWindow::~MainWindow() {
    // No engine thread may call a listener or post to the window once it goes.
    engine.shutdown();
    postTarget.store(nullptr, std::memory_order_release);
    destroyWindow();
}

// ---- engine-thread listeners: record, post, nothing else ----

void MainWindow::NoteOn::notify() {
    std::atomic<std::int32_t>& slot = window.levels[channel & 15];
    if (level > slot.load(std::memory_order_relaxed)) slot.store(level, std::memory_order_relaxed);
}

void MainWindow::TextEvent::notify() {
    // Words to sing along with: the timer finds the syllable by its offset.
    // The render thread is the only writer, so count and offset go as one.
    if (type == 0x01 || type == 0x05) {
        const std::uint64_t count = (window.lyricReached.load(std::memory_order_relaxed) >> 32) + 1;
        window.lyricReached.store(count << 32 | offset, std::memory_order_release);
    }
    if (window.titleEventSeen.load(std::memory_order_relaxed)) return;
    if (track != 0 || type != 3 || textLength < 2 || text == nullptr) return;
    window.titleEventSeen.store(true, std::memory_order_relaxed);
    // The text lives in the loaded song, which the next load frees: copy it
    // now rather than hand a pointer to the user-interface thread.
    std::uint32_t n = 0;
    const std::uint32_t limit = std::min<std::uint32_t>(textLength, sizeof window.titleCopy - 1);
    while (n < limit && text[n] != '\0') {
        window.titleCopy[n] = text[n];
        ++n;
    }
    window.titleCopy[n] = '\0';
    window.titleCopyLength = n;
    window.titleReady.store(true, std::memory_order_release);
    if (WindowHost* target = window.postTarget.load(std::memory_order_acquire)) {
        target->postMessage(WM_COMMAND, makeCommandWParam(0, IDM_SONG_TITLE), 0);
    }
}

// ---- framework slots ----

LResult MainWindow::onMessage(MessageId msg, WParam wParam, LParam lParam) {
    if (msg == WM_COPYDATA && lParam != 0) {
        const auto* record = reinterpret_cast<const CopyDataRecord*>(lParam);
        // A command line from a second start of the player.
        if (record->data == HAND_OVER_TAG && record->bytes != nullptr) {
            // The text need not carry its zero within `size`: copy it first.
            const std::string text(static_cast<const char*>(record->bytes),
                                   ::strnlen(static_cast<const char*>(record->bytes), record->size));
            if (countTokens(text.c_str()) >= 2) {
                handleHandOver(text.c_str());
                return 1;
            }
            handleHandOver(text.c_str());
        }
    }
    if (msg == WM_DROPFILES && lParam != 0) {
        const auto* record = reinterpret_cast<const DropFilesRecord*>(lParam);
        return handleDroppedFiles(record->paths, record->count) ? 1 : 0;
    }
    return Window::onMessage(msg, wParam, lParam);
}

bool MainWindow::handleDroppedFiles(const char* const* paths, std::size_t count) {
    if (paths == nullptr) return false;
    bool opened = false;
    for (std::size_t i = 0; i < count; ++i) {
        if (paths[i] == nullptr || paths[i][0] == '\0') continue;
        playList.openPath(paths[i]);
        opened = true;
    }
    if (opened && playing) {
        stopPlayback();
        startPlayback();
    }
    return opened;
}

bool MainWindow::handleHandOver(const char* commandLine) {
    const int tokens = countTokens(commandLine);
    if (tokens == 0) return false;
    char word[COMMAND_TOKEN_SIZE];
    fetchToken(commandLine, tokens >= 2 ? 1 : 0, word);
    const CommandWord command = classifyCommandWord(word);
    if (tokens >= 2) {
        char path[COMMAND_TOKEN_SIZE];
        fetchToken(commandLine, 0, path);
        playList.openPath(path);
    }
    // The current entry, usually the file just opened, starts from its beginning.
    if (playing || command == CommandWord::Play) {
        stopPlayback();
        startPlayback();
    }
    switch (command) {
        case CommandWord::Stop: stopPlayback(); break;
        case CommandWord::Previous: playList.previous(); break;
        case CommandWord::Next: playList.next(); break;
        default: break;
    }
    return true;
}

LResult MainWindow::preCreate(CreationRecord& record) {
    record.style = WS_POPUP;
    record.extendedStyle = 0;
    record.x = 0;
    record.y = 0;
    record.width = 100;
    record.height = 100;
    return 1;
}

void MainWindow::loadSkinAndPlace(const char* folder) {
    const Point screen = system.screenSize();
    WindowPlacement placement;
    char programFolder[4096];
    if (folder == nullptr) {
        if (!dataFolder(programFolder, sizeof programFolder)) return;
        folder = programFolder;
    }
    loadSkinFrom(skin, folder, settings.SkinFileName, settings, ScreenSize{screen.x, screen.y}, &placement);
    // A named skin that did not load is said once (the built-in display
    // shows instead); choosing it again does not repeat the line.
    if (skin.builtIn && settings.SkinFileName[0] != '\0' && skinReported != settings.SkinFileName) {
        skinReported = settings.SkinFileName;
        std::fprintf(stderr, "brellin: the skin '%s' in %s cannot be loaded; the built-in display is shown\n",
                     settings.SkinFileName, folder);
    }
    if (hwnd != nullptr) {
        hwnd->moveWindow(placement.x, placement.y, placement.width, placement.height);
        hwnd->setWindowPos(0, 0, false, placement.alwaysOnTop);
    }
    skin.display.copyFrom(0, 0, skin.background, 0, 0, skin.windowWidth, skin.windowHeight);
    forgetTimerDrawings();
    if (playing) drawButton(SKIN_BUTTON_PLAY, true);
    if (settings.fShowVolume) drawMeterFloor();
    std::string current(playList.currentFile);
    playList.makeCurrent(current.c_str());
    if (hwnd != nullptr) hwnd->invalidateRect(hwnd->clientRect());
    skin.display.resetDirtyRect();
}

void MainWindow::checkDeviceLost() {
    MidiOutPort* port = engine.midiOutPort();
    if (port == nullptr || !port->lost()) {
        midiPortLostShown = false;
    } else if (!midiPortLostShown) {
        // The same for a MIDI port songs play on: once, and stopped.
        midiPortLostShown = true;
        std::fprintf(stderr, "brellin: %s\n", port->lostReason().c_str());
        stopPlayback();
        char text[MESSAGE_SIZE + 512];
        std::snprintf(text, sizeof text, TEXT_MIDI_PORT_GONE, port->destination().c_str());
        showMessageBox(text, MESSAGE_CAPTION);
    }
    AudioDevice* device = engine.output.device();
    if (device == nullptr || !device->lost.load(std::memory_order_acquire)) {
        deviceLostShown = false;
        return;
    }
    if (deviceLostShown) return;
    // Said once; the window runs on without sound until the engine starts
    // again (Configure's OK), which looks for the server anew.
    deviceLostShown = true;
    std::fprintf(stderr, "brellin: %s\n", device->lostReason());
    stopPlayback();
    showMessageBox(TEXT_SOUND_SERVER_GONE, MESSAGE_CAPTION);
}

void MainWindow::startDisplayTimer() {
    if (hwnd != nullptr) hwnd->setTimer(DISPLAY_TIMER_ID, DISPLAY_TIMER_MS);
}

LResult MainWindow::onClose() {
    if (system.nestedLoopDepth() > 0) {
        system.closeNestedLoops([this] {
            if (hwnd != nullptr) hwnd->postMessage(WM_CLOSE, 0, 0);
        });
        return 1;
    }
    if (!resumePointNoted) noteResumePoint();
    // A song still playing would go on calling the listeners, which post to
    // this window: stop it before the window goes.
    if (playing) stopPlayback();
    postTarget.store(nullptr, std::memory_order_release);
    if (hwnd != nullptr) hwnd->removeTrayIcon();
    destroyWindow();
    return 1;
}

LResult MainWindow::onLButtonDown(WParam, std::int32_t x, std::int32_t y) {
    if (!displayIsOn) {
        displayOn();
        return 1;
    }
    if (hwnd != nullptr) hwnd->setCapture();
    pressX = x;
    pressY = y;
    buttonDown = true;
    const std::int32_t button = hitButton(x, y);
    if (button >= 0) {
        drawButton(button, true);
        invalidate();
    } else {
        dragging = true;
        dragStartTick = now();
    }
    return 1;
}

LResult MainWindow::onMouseMove(WParam, std::int32_t x, std::int32_t y) {
    if (!dragging || now() - dragStartTick < DRAG_DELAY) return 1;
    if (hwnd == nullptr) return 1;
    if (!hwnd->canPositionWindow()) {
        // The compositor moves the window and takes the rest of the gesture.
        dragging = false;
        buttonDown = false;
        hwnd->releaseCapture();
        hwnd->startSystemMove();
        return 1;
    }
    dragTo(x, y);
    return 1;
}

void MainWindow::dragTo(std::int32_t x, std::int32_t y) {
    const Rect window = hwnd->windowRect();
    const Point screen = system.screenSize();
    std::int64_t left = std::int64_t{window.left} + x - pressX;
    std::int64_t top = std::int64_t{window.top} + y - pressY;
    if (left + window.width() > screen.x) left = std::int64_t{screen.x} - window.width();
    if (top + window.height() > screen.y) top = std::int64_t{screen.y} - window.height();
    left = std::max<std::int64_t>(left, 0);
    top = std::max<std::int64_t>(top, 0);
    hwnd->setWindowPos(static_cast<std::int32_t>(left), static_cast<std::int32_t>(top), true,
                       settings.fAlwaysOnTop != 0);
}

LResult MainWindow::onLButtonUp(WParam, std::int32_t x, std::int32_t y) {
    if (!buttonDown) return 1;
    buttonDown = false;
    if (hwnd != nullptr) hwnd->releaseCapture();
    dragging = false;
    switch (hitButton(pressX, pressY)) {
        case SKIN_BUTTON_CLOSE:
            drawButton(SKIN_BUTTON_CLOSE, false);
            onCommand(0, IDM_EXIT, 0);
            break;
        case SKIN_BUTTON_PREVIOUS:
            drawButton(SKIN_BUTTON_PREVIOUS, false);
            playList.previous();
            break;
        case SKIN_BUTTON_PLAY: togglePlayback(); break;
        case SKIN_BUTTON_NEXT:
            drawButton(SKIN_BUTTON_NEXT, false);
            playList.next();
            break;
        case SKIN_BUTTON_EJECT:
            if (!modalOpen) {
                modalOpen = true;
                drawButton(SKIN_BUTTON_EJECT, false);
                openFiles();
                modalOpen = false;
            }
            break;
        default:
            if (skin.menuRect.contains(x, y)) popupMainMenu();
            if (skin.meterRect().contains(x, y)) toggleLevelMeter();
            break;
    }
    invalidate();
    return 1;
}

LResult MainWindow::onRButtonUp(WParam, std::int32_t x, std::int32_t y) {
    // A drag with the left button owns the mouse until it ends.
    if (buttonDown || hwnd == nullptr) return 1;
    updateMenuState();
    hwnd->trackPopupMenu(menu.popup(0), hwnd->clientToScreen(Point{x, y}), TPM_LEFTALIGN | TPM_TOPALIGN);
    return 1;
}

LResult MainWindow::onMouseWheel(WParam, std::int32_t delta, std::int32_t, std::int32_t) {
    // Fine wheels and touch pads send parts of a notch: they add up.
    wheelRest += delta;
    const std::int32_t notches = wheelRest / WHEEL_DELTA;
    wheelRest -= notches * WHEEL_DELTA;
    if (notches != 0) changeVolume(notches * WHEEL_VOLUME_STEP);
    return 1;
}

std::string MainWindow::toolTipAt(std::int32_t x, std::int32_t y) const {
    switch (hitButton(x, y)) {
        case SKIN_BUTTON_CLOSE: return "Close";
        case SKIN_BUTTON_PREVIOUS: return "Previous";
        case SKIN_BUTTON_PLAY: return paused ? "Resume" : playing ? "Stop" : "Play";
        case SKIN_BUTTON_NEXT: return "Next";
        case SKIN_BUTTON_EJECT: return "Eject: open files";
        default: break;
    }
    if (skin.menuRect.contains(x, y)) return "Menu";
    return {};
}

LResult MainWindow::onKeyUp(WParam virtualKey, LParam) {
    if (virtualKey == VK_SHIFT_KEY) shiftDown = false;
    return 1;
}

LResult MainWindow::onKeyDown(WParam virtualKey, LParam) {
    if (virtualKey == VK_SHIFT_KEY) {
        shiftDown = true;
        return 1;
    }
    // Shift turns Previous and Next into seeks of 10 s.
    if (shiftDown && virtualKey == static_cast<WParam>(settings.KeyCodeForPrevious)) {
        seekBy(-SEEK_STEP);
        return 1;
    }
    if (shiftDown && virtualKey == static_cast<WParam>(settings.KeyCodeForNext)) {
        seekBy(SEEK_STEP);
        return 1;
    }
    const std::int32_t* const keyTable[] = {
        &settings.KeyCodeForPrevious,  &settings.KeyCodeForPlay,       &settings.KeyCodeForNext,
        &settings.KeyCodeForFileOpen,  &settings.KeyCodeForPlayList,   &settings.KeyCodeForMenuPopup,
        &settings.KeyCodeForDisplayOn, &settings.KeyCodeForVolumeDown, &settings.KeyCodeForVolumeUp,
        &settings.KeyCodeForPause,     &settings.KeyCodeForSlower,     &settings.KeyCodeForFaster,
        &settings.KeyCodeForKeyDown,   &settings.KeyCodeForKeyUp,
    };
    int action = -1;
    for (int i = 0; i < static_cast<int>(std::size(keyTable)); ++i) {
        if (static_cast<WParam>(*keyTable[i]) == virtualKey) {
            action = i;
            break;
        }
    }
    switch (action) {
        case 0: playList.previous(); break;
        case 1: togglePlaybackByKey(); break;
        case 2: playList.next(); break;
        case 3:
            if (displayIsOn) openFiles();
            break;
        case 4:
            if (displayIsOn) onCommand(0, IDM_PLAYLIST, 0);
            break;
        case 5:
            displayOn();
            popupMainMenu();
            break;
        case 6: displayOn(); break;
        case 7: changeVolume(-1); break;
        case 8: changeVolume(+1); break;
        case 9: togglePause(); break;
        case 10: changeSpeed(-SPEED_STEP); break;
        case 11: changeSpeed(+SPEED_STEP); break;
        case 12: changeKey(-1); break;
        case 13: changeKey(+1); break;
        default: break;
    }
    return 1;
}

LResult MainWindow::onTimer(std::uintptr_t) {
    if (engine.takeSongEnd()) playList.advanceAfterSong();
    checkDeviceLost();
    if (volumeTicks > 0 && --volumeTicks == 0) {
        const std::string behind = titleBehind;
        showTitle(behind.c_str(), titleBehindOffset);
    }
    // An entry that could not be played has been named long enough: the
    // list goes on as after a song's end.
    if (skipTicks > 0 && --skipTicks == 0 && playing) playList.advanceAfterSong();
    // Notes played into the live input light the meter while no song plays too.
    if (!playing && !windowHidden && skipTicks == 0 && settings.fShowVolume && meterMoving()) drawMeter();
    if (!playing || windowHidden || skipTicks > 0) return 1;

    updateLyrics();
    const std::int32_t p = scrollPos, limit = scrollLimit;
    if (lyricLineShown >= 0) {
        // A line of lyrics holds the title area; the title rests.
    } else if (p >= limit + SCROLL_END_REST) {
        scrollPos = 0;
        showTitle(songTitle, 0);
    } else if (p >= limit) {
        scrollPos = p + 1;
    } else if (p >= SCROLL_REST) {
        scrollPos = p + 1;
        showTitle(songTitle, p + 1 - SCROLL_REST);
    } else if (p >= 0) {
        scrollPos = p + 1;
    }

    clockPass = !clockPass;
    if (clockPass && skin.hasClock()) drawClock();

    if (settings.fShowVolume) drawMeter();
    return 1;
}

LResult MainWindow::onCommand(std::uint16_t, std::uint16_t id, LParam lParam) {
    switch (id) {
        case IDM_EXIT:
            // A dialog, message box or menu still open would come back to a
            // window that is gone: close them as Cancel would, then exit from
            // the main loop.
            if (system.nestedLoopDepth() > 0) {
                system.closeNestedLoops([this] {
                    if (hwnd != nullptr) hwnd->postMessage(WM_COMMAND, makeCommandWParam(0, IDM_EXIT), 0);
                });
                return 1;
            }
            noteResumePoint();
            stopPlayback();
            // Where a client cannot read its own position (Wayland) the
            // stored one is kept rather than overwritten with a guess.
            if (hwnd != nullptr && hwnd->canPositionWindow()) {
                const Rect window = hwnd->windowRect();
                settings.InitializePositionX = window.left;
                settings.InitializePositionY = window.top;
            }
            onClose();
            return 1;
        case IDM_HIDE_WINDOW:
            if (!isCommandAvailable(IDM_HIDE_WINDOW)) return 1;
            windowHidden = true;
            settings.settingsChanged = true;
            if (hwnd != nullptr) hwnd->showWindow(false);
            updateMenuState();
            return 1;
        case IDM_SHOW_WINDOW:
            windowHidden = false;
            settings.settingsChanged = true;
            if (hwnd != nullptr) hwnd->showWindow(true);
            updateMenuState();
            return 1;
        case IDM_NEXT: playList.next(); return 1;
        case IDM_PREVIOUS: playList.previous(); return 1;
        case IDM_PLAY_STOP: togglePlayback(); return 1;
        case IDM_PAUSE: togglePause(); return 1;
        case IDM_STOP:
            if (playing) stopPlayback();
            return 1;
        case IDM_SEEK_FORWARD: seekBy(SEEK_STEP); return 1;
        case IDM_SEEK_BACK: seekBy(-SEEK_STEP); return 1;
        case IDM_FASTER: changeSpeed(+SPEED_STEP); return 1;
        case IDM_SLOWER: changeSpeed(-SPEED_STEP); return 1;
        case IDM_KEY_UP: changeKey(+1); return 1;
        case IDM_KEY_DOWN: changeKey(-1); return 1;
        case IDM_NORMAL_SPEED_KEY: resetSpeedAndKey(); return 1;
        case IDM_OPEN_FILES:
            if (modalOpen || !displayIsOn) return 1;
            runDialogCommand(id);
            return 1;
        case IDM_SONG_TITLE: showSongTitle(); return 1;
        case IDM_TRAY_ICON: trayMenu(lParam); return 1;
        default: break;
    }
    if (id >= IDM_RECENT_FIRST && id <= IDM_RECENT_LAST) {
        playList.openRecent(id - IDM_RECENT_FIRST);
        return 1;
    }
    if (dialogs.provides(id)) {
        runDialogCommand(id);
        return 1;
    }
    // An item of the menu whose dialog nobody registered does nothing.
    return isMenuCommand(id) ? 1 : 0;
}

// ---- commands that run a dialog ----

bool MainWindow::isCommandAvailable(std::uint16_t id) const {
    // Without a tray icon nothing could show a hidden window again.
    if (id == IDM_HIDE_WINDOW) return trayIconShown;
    return isWindowCommand(id) || dialogs.provides(id);
}

bool MainWindow::isMenuCommand(std::uint16_t id) const {
    for (int p = 0; p < menu.popupCount(); ++p) {
        for (const MenuItem& item : menu.popup(p).items) {
            if (item.kind == MenuItemKind::Command && item.id == id) return true;
        }
    }
    return false;
}

void MainWindow::updateMenuState() {
    for (int p = 0; p < menu.popupCount(); ++p) {
        for (const MenuItem& item : menu.popup(p).items) {
            if (item.kind == MenuItemKind::Command) menu.enableCommand(item.id, isCommandAvailable(item.id));
        }
    }
    // The tray host's own menu is the popup a click on the icon shows now.
    if (trayIconShown && hwnd != nullptr) hwnd->setTrayMenu(menu.popup(windowHidden ? 1 : 2));
}

void MainWindow::runDialogCommand(std::uint16_t id) {
    if (modalOpen || !isCommandAvailable(id)) return;
    modalOpen = true;
    dialogs.run(id, *this);
    modalOpen = false;
}

void MainWindow::openFiles() { dialogs.run(IDM_OPEN_FILES, *this); }

// ---- transport ----

void MainWindow::clearLevels() {
    for (auto& level : levels) level.store(0, std::memory_order_relaxed);
}

void MainWindow::startPlayback() {
    if (playList.currentFile[0] == '\0') {
        drawButton(SKIN_BUTTON_PLAY, false);
        return;
    }
    if (playList.mode() == PlayMode::Random && !keepEntryOnce) {
        playList.pickRandom();
        playList.makeIndexCurrent();
    }
    keepEntryOnce = false;
    skipTicks = 0;
    paused = false;
    positionBase = 0;
    clearLevels();
    playing = false;
    engine.stopSong();
    playing = true;

    MidiFileInfo info;
    bool ok = engine.running() && scanMidiFile(playList.currentFile, info);
    if (ok) {
        songLength = static_cast<std::int32_t>(std::min<std::uint32_t>(info.playingTime, INT32_MAX));
        lengthPath.assign(playList.currentFile);
        // The text listener posts the song's title here from the render thread.
        postTarget.store(hwnd, std::memory_order_release);
        // The skin's clock font or area may have changed since the last song.
        clockDrawn.clear();
        titleEventSeen.store(false, std::memory_order_relaxed);
        titleReady.store(false, std::memory_order_relaxed);
        scrollPos = -1;
        scrollLimit = 0;
        lyricReached.store(0, std::memory_order_relaxed);
        ok = engine.playSong(playList.currentFile);
    }
    lyrics.clear();
    lyricLineShown = -1;
    lyricCountSeen = 0;
    lyricSyllable = -1;
    if (ok) {
        failedInRow = 0;
        playStartTick = now();
        // The words are read from the song as it was loaded, so that their
        // offsets are the ones the text listener reports.
        lyrics.extract(engine.sequencer->song.view(), SongLyrics::isKaraokeName(playList.currentFile));
        lyricTime = 0;
        lyricPosition = 0;
        drawButton(SKIN_BUTTON_PLAY, true);
        // Started from the menu or the tray, nothing else would repaint the
        // button until the timer happens to draw.
        invalidate();
        notifyMedia();
        return;
    }
    drawClockValue(0);
    const std::uint32_t entries = playList.entryCount();
    if (entries >= 2 && static_cast<std::uint32_t>(++failedInRow) < entries) {
        // One bad file does not end a list: it is named for a moment, then
        // the timer steps on. `playing` stays set, so the list keeps going.
        const char* slash = std::strrchr(playList.currentFile, '/');
        const std::string named = std::string(unsupportedText) + " " + (slash ? slash + 1 : playList.currentFile);
        showTitle(named.c_str(), 0);
        skipTicks = SKIP_TICKS;
        playStartTick = now();  // no position of the song before is reported meanwhile
        drawButton(SKIN_BUTTON_PLAY, true);
        invalidate();
        notifyMedia();
        return;
    }
    // A single file, or a whole round of the list failed.
    failedInRow = 0;
    playing = false;
    showTitle(unsupportedText, 0);
    drawButton(SKIN_BUTTON_PLAY, false);
    invalidate();
    notifyMedia();
}

void MainWindow::stopPlayback() {
    playing = false;
    lyricLineShown = -1;
    lyricSyllable = -1;
    paused = false;
    positionBase = 0;
    skipTicks = 0;
    failedInRow = 0;
    engine.stopSong();
    drawButton(SKIN_BUTTON_PLAY, false);
    clearMeterArea();
    playList.makeIndexCurrent();
    // The clock goes back to the start (counting down: the song's length),
    // rather than keep the time the song was stopped at.
    const bool lengthKnown = lengthPath == playList.currentFile;
    drawClockValue(settings.TimerMode == 1 && lengthKnown ? static_cast<std::uint32_t>(std::max(songLength, 0)) : 0);
    if (settings.fShowVolume) drawMeterFloor();
    invalidate();
    notifyMedia();
}

void MainWindow::togglePlayback() {
    if (paused) {
        resumePlayback();
        return;
    }
    if (playing) {
        stopPlayback();
        return;
    }
    if (settings.DisplayMode == 1) displayOff();
    startPlayback();
}

void MainWindow::togglePlaybackByKey() {
    if (paused) {
        displayOn();
        resumePlayback();
    } else if (playing) {
        displayOn();
        stopPlayback();
    } else {
        if (settings.DisplayMode == 1) displayOff();
        startPlayback();
    }
    invalidate();
}

void MainWindow::pausePlayback() {
    if (!playing || paused || skipTicks > 0) return;
    positionBase = songPosition();
    paused = true;
    engine.pauseSong();
    clockBlinkOn = true;
    notifyMedia();
}

void MainWindow::resumePlayback() {
    if (!paused) return;
    paused = false;
    playStartTick = now();
    engine.resumeSong();
    if (skin.hasClock() && !windowHidden) drawClock();
    notifyMedia();
}

void MainWindow::togglePause() {
    if (paused) {
        resumePlayback();
    } else if (playing) {
        pausePlayback();
    } else {
        startPlayback();
    }
}

std::uint32_t MainWindow::songPosition() const {
    if (!playing || skipTicks > 0) return 0;
    if (paused) return positionBase;
    const std::uint64_t moved =
        static_cast<std::uint64_t>(now() - playStartTick) * static_cast<std::uint64_t>(engine.speed()) / 100u;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(positionBase + moved, UINT32_MAX));
}

void MainWindow::seekTo(std::uint32_t ms) {
    if (!playing || skipTicks > 0 || !engine.running()) return;
    positionBase = ms;
    playStartTick = now();
    engine.seekSong(ms);
    ++seekCount;
    if (skin.hasClock() && !windowHidden) {
        clockBlinkOn = true;
        drawClock();
    }
    notifyMedia();
}

void MainWindow::seekBy(std::int64_t ms) {
    if (!playing) return;
    const std::int64_t target = static_cast<std::int64_t>(songPosition()) + ms;
    seekTo(static_cast<std::uint32_t>(std::clamp<std::int64_t>(target, 0, UINT32_MAX)));
}

void MainWindow::setSpeed(std::int32_t percent) {
    // The clock goes on from where the song is, at the new speed.
    positionBase = songPosition();
    playStartTick = now();
    engine.setSpeed(percent);
    char text[32];
    std::snprintf(text, sizeof text, "Speed %d%%", static_cast<int>(engine.speed()));
    showNotice(text);
    notifyMedia();
}

void MainWindow::changeSpeed(std::int32_t step) { setSpeed(engine.speed() + step); }

void MainWindow::changeKey(std::int32_t step) {
    engine.setTranspose(engine.transpose() + step);
    char text[32];
    std::snprintf(text, sizeof text, engine.transpose() != 0 ? "Key %+d" : "Key %d",
                  static_cast<int>(engine.transpose()));
    showNotice(text);
}

void MainWindow::resetSpeedAndKey() {
    positionBase = songPosition();
    playStartTick = now();
    engine.setSpeed(100);
    engine.setTranspose(0);
    showNotice("Speed 100% Key 0");
    notifyMedia();
}

void MainWindow::noteResumePoint() {
    settings.LastPlayEntry = std::max(playList.currentIndex, 0);
    settings.LastPlayPosition =
        playing && skipTicks == 0 ? static_cast<std::int32_t>(std::min<std::uint32_t>(songPosition(), INT32_MAX)) : -1;
    resumePointNoted = true;
}

void MainWindow::resumeAtStart() {
    if (!settings.fResumeOnStart || playList.currentFile[0] == '\0') return;
    const std::uint32_t entries = playList.entryCount();
    if (static_cast<std::uint32_t>(settings.LastPlayEntry) < entries) {
        playList.currentIndex = settings.LastPlayEntry;
        playList.makeIndexCurrent();
    }
    if (settings.LastPlayPosition < 0) return;
    // The entry that played, whatever the play mode, from where it was.
    keepEntryOnce = true;
    startPlayback();
    keepEntryOnce = false;
    if (playing && settings.LastPlayPosition > 0) seekTo(static_cast<std::uint32_t>(settings.LastPlayPosition));
}

// ---- display ----

void MainWindow::showTitle(const char* text, std::int32_t offset) {
    if (text == nullptr) text = "";
    if (volumeTicks > 0) {
        // The volume keeps its second; this title comes back after it.
        titleBehind.assign(text);
        titleBehindOffset = offset;
        return;
    }
    drawTitleArea(text, offset);
    titleShown.assign(text);
    titleOffset = offset;
}

namespace {

// a * (total - k) / total + b * k / total, per 5-bit channel of two 5-5-5 pixels.
std::uint16_t blend555(std::uint16_t a, std::uint16_t b, std::int32_t k, std::int32_t total) {
    std::uint32_t out = 0;
    for (int shift = 0; shift <= 10; shift += 5) {
        const auto ca = static_cast<std::int32_t>((std::uint32_t{a} >> shift) & 31u);
        const auto cb = static_cast<std::int32_t>((std::uint32_t{b} >> shift) & 31u);
        out |= static_cast<std::uint32_t>((ca * (total - k) + cb * k) / total) << shift;
    }
    return static_cast<std::uint16_t>(out);
}

}  // namespace

void MainWindow::drawTitleArea(const char* text, std::int32_t offset) {
    const SkinRect& area = skin.displayRect;
    skin.title.copyFrom(0, 0, skin.background, area.left, area.top, area.width, area.height);
    skin.title.drawText(-offset, 0, text);
    // A text cut by the area's right edge fades out over its last pixels
    // instead of ending in half a letter next to the clock.
    const std::int32_t fade = std::min(TITLE_FADE_WIDTH, area.width / 4);
    if (fade > 0 && skin.title.measureText(text).width - offset > area.width) {
        std::uint16_t* pixels = skin.title.pixels();
        const std::int32_t stride = skin.title.width();
        const std::int32_t rows = std::min(area.height, skin.title.height());
        for (std::int32_t i = 0; i < fade; ++i) {
            const std::int32_t column = area.width - fade + i;
            if (column < 0 || column >= stride) continue;
            for (std::int32_t row = 0; row < rows; ++row) {
                std::uint16_t& pixel = pixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(stride) +
                                              static_cast<std::size_t>(column)];
                pixel = blend555(pixel, skin.background.pixel(area.left + column, area.top + row), i + 1, fade + 1);
            }
        }
    }
    skin.display.copyFrom(area.left, area.top, skin.title, 0, 0, area.width, area.height);
    overdrawn(area);
    invalidate();
}

void MainWindow::showVolume() {
    char text[16];
    std::snprintf(text, sizeof text, "Vol %d", static_cast<int>(settings.Volume));
    showNotice(text);
}

void MainWindow::showNotice(const char* text) {
    if (volumeTicks == 0) {
        titleBehind = titleShown;
        titleBehindOffset = titleOffset;
    }
    volumeTicks = VOLUME_SHOW_TICKS;
    drawTitleArea(text, 0);
    titleShown = text;
    titleOffset = 0;
}

void MainWindow::showSongTitle() {
    // A notice from a song that has since been replaced carries nothing.
    if (!titleReady.exchange(false, std::memory_order_acquire)) return;
    const char* bytes = titleCopy;
    std::size_t length = titleCopyLength;
    // The copy holds at most 255 bytes of the song's text; a cut through a
    // character would make the whole text undecodable in its own encoding,
    // so drop the partial character at the end first.
    std::u32string characters;
    TextDecoder::Encoding encoding = TextDecoder::decode(bytes, length, characters);
    for (std::size_t drop = 1; encoding == TextDecoder::Encoding::Latin1 && drop <= 3 && drop < length; ++drop) {
        std::u32string shorter;
        if (TextDecoder::decode(bytes, length - drop, shorter) != TextDecoder::Encoding::Latin1) {
            characters.swap(shorter);
            break;
        }
    }
    if (characters.size() > 255) characters.resize(255);
    std::string text = TextDecoder::toUtf8(characters);
    text.resize(utf8Prefix(text, sizeof songTitle - 1));
    while (!text.empty() && text.back() == ' ') text.pop_back();

    std::memset(songTitle, 0, sizeof songTitle);
    std::memcpy(songTitle, text.data(), text.size());
    if (lyricLineShown < 0) showTitle(songTitle, 0);

    const std::int32_t width = skin.title.measureText(songTitle).width;
    scrollLimit = width - skin.displayRect.width + SCROLL_REST;
    if (width > skin.displayRect.width) scrollPos = 0;
    songTitleKnown = true;
    notifyMedia();
}

void MainWindow::showTitle(const char* title) {
    // Nothing to play at all: say how to begin.
    const bool nothing = (title == nullptr || title[0] == '\0') && playList.currentFile[0] == '\0';
    showTitle(nothing ? openHintText : title, 0);
    // A line of lyrics that was showing comes back on the next timer pass.
    lyricLineShown = -1;
    fileTitle.assign(title != nullptr ? title : "");
    if (mediaPath != playList.currentFile) {
        // Another file: its own name is not known until its title event.
        mediaPath.assign(playList.currentFile);
        ++mediaSong;
        songTitleKnown = false;
    }
    notifyMedia();
}

MediaState MainWindow::mediaState() const {
    MediaState state;
    state.playing = playing;
    state.song = mediaSong;
    state.path = mediaPath;
    if (songTitleKnown) {
        state.title.assign(songTitle);
    } else {
        // File names are bytes: shown the way the title area decodes them.
        std::u32string characters;
        TextDecoder::decode(fileTitle.data(), fileTitle.size(), characters);
        state.title = TextDecoder::toUtf8(characters);
    }
    // The length is known from the scan of the song last started; another
    // file made current since has none yet.
    if (lengthPath == mediaPath) {
        state.lengthUs = static_cast<std::int64_t>(std::max(songLength, 0)) * 1000;
        state.lyrics = lyrics.text;
    }
    state.paused = paused;
    state.positionUs = static_cast<std::int64_t>(songPosition()) * 1000;
    state.speed = engine.speed();
    state.seeks = seekCount;
    state.volume = settings.Volume;
    state.mode = playList.mode();
    return state;
}

void MainWindow::updateLyrics() {
    if (lyrics.empty()) return;
    const std::uint64_t reached = lyricReached.load(std::memory_order_acquire);
    const auto count = static_cast<std::uint32_t>(reached >> 32);
    if (count != lyricCountSeen) {
        lyricCountSeen = count;
        // Text events that are not the song's words are not found.
        const std::int32_t found = lyrics.find(static_cast<std::uint32_t>(reached));
        if (found >= 0) {
            lyricSyllable = found;
            lyricTime = lyrics.syllables[static_cast<std::size_t>(found)].time;
            lyricPosition = songPosition();
        }
    }
    // Where the song is now, counted on from the last syllable reached (from
    // the start before the first) by the song's position, which stands
    // still in a pause and follows the speed.
    const std::uint32_t position = songPosition();
    const std::uint64_t songTime = std::uint64_t{lyricTime} + (position > lyricPosition ? position - lyricPosition : 0);
    std::int32_t line = -1;
    std::uint32_t next = 0;
    bool lineSung = true;
    if (lyricSyllable >= 0) {
        const LyricSyllable& syllable = lyrics.syllables[static_cast<std::size_t>(lyricSyllable)];
        line = static_cast<std::int32_t>(syllable.line);
        next = syllable.line + 1;
        lineSung = static_cast<std::uint32_t>(lyricSyllable) == lyrics.lines[syllable.line].last;
        if (lineSung && songTime >= std::uint64_t{syllable.time} + LYRIC_HOLD_MS) line = -1;
    }
    std::int32_t sung = lyricSyllable;
    if (lineSung && next < lyrics.lines.size()) {
        const std::uint32_t due = lyrics.syllables[lyrics.lines[next].first].time;
        if (songTime + LYRIC_LEAD_MS >= due) {
            line = static_cast<std::int32_t>(next);
            sung = -1;
        }
    }
    showLyricLine(line, sung);
}

void MainWindow::showLyricLine(std::int32_t line, std::int32_t syllable) {
    if (line < 0) {
        if (lyricLineShown < 0) return;
        // The title comes back, and a title that scrolls starts over.
        lyricLineShown = -1;
        if (scrollPos >= 0) scrollPos = 0;
        showTitle(songTitleKnown ? songTitle : fileTitle.c_str(), 0);
        return;
    }
    const std::string& text = lyrics.lines[static_cast<std::size_t>(line)].text;
    // A line wider than the title area moves left as it is sung, so that the
    // syllable being sung stays in view with a quarter of the area ahead of it.
    std::int32_t offset = 0;
    const std::int32_t area = skin.displayRect.width;
    const std::int32_t width = skin.title.measureText(text.c_str()).width;
    if (width > area && syllable >= 0) {
        const std::string sungPart = text.substr(0, lyrics.syllables[static_cast<std::size_t>(syllable)].end);
        const std::int32_t x = skin.title.measureText(sungPart.c_str()).width;
        offset = std::clamp(x - area * 3 / 4, 0, width - area);
    }
    if (line == lyricLineShown && offset == lyricOffsetShown) return;
    lyricLineShown = line;
    lyricOffsetShown = offset;
    showTitle(text.c_str(), offset);
}

void MainWindow::formatClock(std::uint32_t ms, char* out, std::size_t size) {
    std::snprintf(out, size, "%u:%02u", ms / 60000u, (ms / 1000u) % 60u);
}

void MainWindow::drawClock() {
    // Paused, the clock blinks: shown on one pass, blank on the next.
    if (paused) {
        clockBlinkOn = !clockBlinkOn;
        if (!clockBlinkOn) {
            drawClockText("");
            return;
        }
    }
    std::uint32_t t = songPosition();
    if (settings.TimerMode == 1) {
        const auto length = static_cast<std::uint32_t>(std::max(songLength, 0));
        t = length > t ? length - t : 0;
    }
    drawClockValue(t);
}

void MainWindow::drawClockValue(std::uint32_t t) {
    char text[24];
    formatClock(t, text, sizeof text);
    drawClockText(text);
}

void MainWindow::drawClockText(const char* text) {
    if (!skin.hasClock()) return;
    clockShown = text;
    // The same text over the same pixels would change nothing on the screen.
    if (clockDrawn == clockShown) return;
    const SkinRect& area = skin.timerRect;
    const Extent extent = skin.display.measureText(text);
    const std::int32_t x = area.left + (area.width - extent.width) / 2;
    skin.display.copyFrom(area.left, area.top, skin.background, area.left, area.top, area.width, area.height);
    skin.display.drawText(x, area.top, text);
    // The text may reach beyond the clock's area: that is repainted too, and
    // whatever overlaps either is drawn over. (Smoothed text marks nothing dirty.)
    const SkinRect inked{x, area.top, extent.width, extent.height};
    skin.display.growDirtyRect(std::max(x, 0), area.top);
    skin.display.growDirtyRect(std::min<std::int64_t>(inked.right(), skin.display.width()), inked.bottom());
    overdrawn(area);
    overdrawn(inked);
    const std::int64_t left = std::min<std::int64_t>(area.left, x), top = area.top;
    const std::int64_t right = std::max(area.right(), inked.right()), bottom = std::max(area.bottom(), inked.bottom());
    clockArea = SkinRect{static_cast<std::int32_t>(left), static_cast<std::int32_t>(top),
                         static_cast<std::int32_t>(std::min<std::int64_t>(right - left, INT32_MAX)),
                         static_cast<std::int32_t>(std::min<std::int64_t>(bottom - top, INT32_MAX))};
    clockDrawn = clockShown;
    invalidate();
}

void MainWindow::overdrawn(const SkinRect& area, std::int32_t exceptBar) {
    if (!clockDrawn.empty() && overlap(area, clockArea)) clockDrawn.clear();
    for (std::int32_t channel = 0; channel < METER_BARS; ++channel) {
        if (channel != exceptBar && meterShown[channel] >= 0 && overlap(area, skin.meterBar(channel)))
            meterShown[channel] = -1;
    }
}

void MainWindow::forgetTimerDrawings() {
    clockDrawn.clear();
    std::fill(std::begin(meterShown), std::end(meterShown), -1);
}

void MainWindow::drawMeterBar(std::int32_t channel, std::int32_t frame) {
    const SkinRect bar = skin.meterBar(channel);
    const SkinRect source = skin.meterFrame(frame);
    skin.display.copyFrom(bar.left, bar.top, skin.meterStrip, source.left, source.top, bar.width, bar.height);
    // Bars of a skin may overlap each other or the clock: those are drawn again.
    overdrawn(bar, channel);
    meterShown[channel] = frame;
}

void MainWindow::drawMeter() {
    for (std::int32_t channel = 0; channel < METER_BARS; ++channel) {
        std::atomic<std::int32_t>& slot = levels[channel];
        const std::int32_t level = slot.load(std::memory_order_relaxed);
        const std::int32_t frame = std::min(std::max(level, 0) / 8, METER_FRAMES - 1);
        if (frame != meterShown[channel]) drawMeterBar(channel, frame);
        // A note-on between the load and this store is lost for one tick only.
        slot.store(std::max(level - 16, 0), std::memory_order_relaxed);
    }
    invalidate();
}

bool MainWindow::meterMoving() const {
    for (std::int32_t channel = 0; channel < METER_BARS; ++channel) {
        if (levels[channel].load(std::memory_order_relaxed) > 0 || meterShown[channel] > 0) return true;
    }
    return false;
}

void MainWindow::drawMeterFloor() {
    for (std::int32_t channel = 0; channel < METER_BARS; ++channel) drawMeterBar(channel, 0);
    clearLevels();
}

void MainWindow::clearMeterArea() {
    const SkinRect area = skin.meterRect();
    skin.display.copyFrom(area.left, area.top, skin.background, area.left, area.top, area.width, area.height);
    overdrawn(area);
}

void MainWindow::toggleLevelMeter() {
    settings.settingsChanged = true;
    settings.fShowVolume = settings.fShowVolume ? 0 : 1;
    if (settings.fShowVolume) {
        drawMeterFloor();
    } else {
        clearMeterArea();
    }
    invalidate();
}

void MainWindow::drawButton(std::int32_t index, bool pressed) {
    if (index < 0 || index >= SKIN_BUTTON_COUNT) return;
    const SkinRect area = skin.buttonRect(index);
    if (pressed) {
        skin.display.copyFrom(area.left, area.top, skin.pressed[index], 0, 0, area.width, area.height);
    } else {
        skin.display.copyFrom(area.left, area.top, skin.background, area.left, area.top, area.width, area.height);
    }
    overdrawn(area);
}

void MainWindow::changeVolume(std::int32_t step) {
    settings.playSettingsChanged = true;
    settings.Volume = std::clamp(settings.Volume + step, 0, 128);
    applyVolume();
    showVolume();
    notifyMedia();
}

void MainWindow::applyVolume() { engine.setVolume(settings.Volume); }

void MainWindow::setPlayMode(PlayMode mode) {
    if (playList.mode() == mode) return;
    playList.setMode(mode);
    settings.playSettingsChanged = true;
    notifyMedia();
}

void MainWindow::displayOff() {
    if (!displayIsOn) return;
    if (!system.displayPowerSupported()) return;
    if (system.setDisplayPower(false)) displayIsOn = false;
}

void MainWindow::displayOn() {
    if (displayIsOn) return;
    system.setDisplayPower(true);
    displayIsOn = true;
}

// ---- menus ----

void MainWindow::popupMainMenu() {
    if (hwnd == nullptr) return;
    updateMenuState();
    const Point corner = hwnd->clientToScreen(Point{skin.menuRect.left, skin.menuRect.top});
    hwnd->trackPopupMenu(menu.popup(0), corner, TPM_LEFTALIGN | TPM_TOPALIGN);
}

void MainWindow::trayMenu(LParam mouseMessage) {
    if (hwnd == nullptr) return;
    if (mouseMessage != WM_LBUTTONDOWN && mouseMessage != WM_RBUTTONDOWN) return;
    if (!windowHidden) {
        hwnd->showWindow(true);
        hwnd->setWindowPos(0, 0, false, settings.fAlwaysOnTop != 0);
    }
    hwnd->setForeground();
    updateMenuState();
    hwnd->trackPopupMenu(menu.popup(windowHidden ? 1 : 2), system.cursorPos(), TPM_RIGHTALIGN | TPM_BOTTOMALIGN);
}

void MainWindow::rebuildRecentMenus(const TextBuffer* recent) {
    RecentMenuItem items[RECENT_COUNT];
    const int count = recentMenuItems(recent, items);
    std::vector<MenuItem> shown;
    for (int i = 0; i < count; ++i) {
        shown.push_back(MenuItem{MenuItemKind::Command,
                                 static_cast<std::uint16_t>(items[i].command),
                                 items[i].text ? items[i].text : "",
                                 true,
                                 {}});
    }
    menu.setRecentItems(shown);
    updateMenuState();
}

void MainWindow::showMessageBox(const char* text, const char* caption) {
    if (hwnd != nullptr) {
        hwnd->messageBox(text, caption, MB_OK | MB_ICONINFORMATION);
    } else if (startupMessages != nullptr) {
        startupMessages->showMessageBox(text, caption);
    } else {
        StderrMessageSink().showMessageBox(text, caption);
    }
}

}  // namespace brellin
