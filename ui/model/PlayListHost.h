// PlayListHost: what the play list asks of the player around it.
//
// The play list is plain data handling; starting and stopping songs, drawing
// the title and the recent-play-list submenus belong to whoever plays: the
// command-line player or the main window. All calls come on the thread that
// drives the play list (the user-interface thread).
#pragma once

#include "common/TextBuffer.h"

namespace brellin {

class PlayListHost {
public:
    virtual ~PlayListHost() = default;

    // The transport: stops the running song (if any) and starts `currentFile`.
    virtual void startPlayback() = 0;
    // Ends playback and clears a pending end-of-song notice.
    virtual void stopPlayback() = 0;
    virtual bool isPlaying() const = 0;
    // Shows the title of the file that became current.
    virtual void showTitle(const char* title) = 0;
    // The recent play lists changed; `recent` holds the five shown paths,
    // most recent first (see recentMenuItems for the items to show).
    virtual void rebuildRecentMenus(const TextBuffer* recent) = 0;
};

}  // namespace brellin
