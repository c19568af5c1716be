// MediaState: what the player tells a desktop media controller (the media
// keys, the desktop's player widget), in plain values, so that the bus
// adapter holds no player logic and the values can be checked without a bus.
//
// The MainWindow fills it on the user-interface thread (mediaState()) and
// calls its MediaObserver there whenever the song, its title, the play state
// or the volume may have changed; the observer compares with what it last
// reported (compareMedia) and announces only what differs.
#pragma once

#include <cstdint>
#include <string>

#include "ui/model/PlayList.h"

namespace brellin {

struct MediaState {
    bool playing = false;
    // Counts the songs made current since start-up: a new number for every
    // other file, so that a controller can tell one song from the next.
    std::uint32_t song = 0;
    // The song's own name once its title event was read, else the file's
    // title; UTF-8 either way, as the display decodes it.
    std::string title;
    std::string path;           // the current file as given; empty: none
    std::int64_t lengthUs = 0;  // from the scan of the song last started
    std::string lyrics;         // the whole words of the song last started, UTF-8; empty: none
    bool paused = false;        // playing, held by a pause
    std::int64_t positionUs = 0;
    std::int32_t speed = 100;  // percent
    std::uint32_t seeks = 0;   // counts the seeks since start-up
    std::int32_t volume = 0;   // 0..128 as in the settings
    PlayMode mode = PlayMode::Normal;
};

// The play modes as a media controller's Shuffle and LoopStatus. Both random
// modes are Shuffle and go on for ever ("Playlist"); Normal loops the list,
// Normal without loop stops at its end ("None"). There is no mode that
// repeats one song ("Track").
inline bool shuffleOf(PlayMode mode) { return mode == PlayMode::Random || mode == PlayMode::RandomAfterSecond; }
inline const char* loopStatusOf(PlayMode mode) { return mode == PlayMode::NormalNoLoop ? "None" : "Playlist"; }
// The mode a controller's Shuffle asks for: on keeps a random mode and turns
// the others into Random; off keeps a normal mode and turns the random ones
// into Normal.
inline PlayMode modeForShuffle(PlayMode mode, bool shuffle) {
    if (shuffle == shuffleOf(mode)) return mode;
    return shuffle ? PlayMode::Random : PlayMode::Normal;
}
// The mode a controller's LoopStatus asks for; false for a status no mode
// gives ("Track", or anything unknown). "None" stops at the list's end, so it
// is Normal without loop even when the list was shuffled.
inline bool modeForLoopStatus(PlayMode mode, const std::string& status, PlayMode* result) {
    if (status == "None") {
        *result = PlayMode::NormalNoLoop;
        return true;
    }
    if (status == "Playlist") {
        *result = mode == PlayMode::NormalNoLoop ? PlayMode::Normal : mode;
        return true;
    }
    return false;
}

// Which of the reported groups differ between two states.
struct MediaChanges {
    bool status = false;    // playing / paused / stopped
    bool metadata = false;  // song number, title, path, length or lyrics
    bool volume = false;
    bool mode = false;  // Shuffle and LoopStatus
    bool rate = false;
    bool seeked = false;  // the position jumped
    bool any() const { return status || metadata || volume || mode || rate || seeked; }
};

inline MediaChanges compareMedia(const MediaState& before, const MediaState& after) {
    MediaChanges changes;
    changes.status = before.playing != after.playing || before.paused != after.paused;
    changes.metadata = before.song != after.song || before.title != after.title || before.path != after.path ||
                       before.lengthUs != after.lengthUs || before.lyrics != after.lyrics;
    changes.volume = before.volume != after.volume;
    changes.mode = before.mode != after.mode;
    changes.rate = before.speed != after.speed;
    changes.seeked = before.seeks != after.seeks;
    return changes;
}

class MediaObserver {
public:
    virtual ~MediaObserver() = default;
    // Called on the user-interface thread after a change; may read the
    // window's mediaState() but must not run window commands from here.
    virtual void mediaChanged() = 0;
};

}  // namespace brellin
