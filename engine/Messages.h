// Messages: how the engine start reaches the user.
//
// Start-up problems appear as numbered messages, "[%04d] : %s", captioned
// "Brellin Message" (`showMessage`). Where they end up is the player's
// business: the command-line player prints them to stderr, the window shows
// message boxes. Called on the user-interface thread only.
#pragma once

#include <cstddef>
#include <string>

namespace brellin {

// Numbered messages are composed into 128 bytes: at most 127 characters.
constexpr std::size_t MESSAGE_SIZE = 128;

constexpr const char* MESSAGE_CAPTION = "Brellin Message";
constexpr const char* TEXT_NO_SOUND_FONT = "Not found a Sound font.";
constexpr const char* TEXT_CANNOT_OPEN_DEVICE = "Cannot open SoundDevice. Exit Brellin when push OK.";
constexpr const char* TEXT_SOUND_SERVER_GONE =
    "The sound server has gone away. Start it again, then press OK in Configure to play on.";
// The MIDI port songs should play on (its name fills %s).
constexpr const char* TEXT_MIDI_PORT_MISSING =
    "Cannot play on the MIDI port '%s'; the built-in synthesizer plays instead.";
constexpr const char* TEXT_MIDI_PORT_GONE =
    "The MIDI port '%s' has gone away. Connect it again, then press OK in Configure to play on.";
constexpr const char* TEXT_NOT_ENOUGH_MEMORY = "Not enough memory. Please, retry after reboot.";
constexpr const char* TEXT_SOUND_FONT_REPLACED = "Because '%s' was not found, read '%s' instead.";
// A sound font file that is there but cannot be loaded (the name fills %s).
constexpr const char* TEXT_DAMAGED_SOUND_FONT = "The sound font '%s' is damaged and cannot be read.";

// Message numbers of the start-up messages.
constexpr int MESSAGE_SOUND_FONT_REPLACED = 0;
constexpr int MESSAGE_NO_SOUND_FONT = 2;
constexpr int MESSAGE_CANNOT_OPEN_DEVICE = 3;
constexpr int MESSAGE_FALLBACK_FORMAT = 4;
constexpr int MESSAGE_DAMAGED_SOUND_FONT = 5;
constexpr int MESSAGE_MIDI_PORT_MISSING = 6;

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows one message with an OK button, above other windows.
    virtual void showMessageBox(const char* text, const char* caption) = 0;
    // The wait cursor while the sound font loads (the window shows it).
    virtual void setBusy(bool) {}
};

// "[%04d] : %s" in a field of MESSAGE_SIZE bytes; a longer text is cut at a
// character boundary, never written past the field.
void composeMessage(char* out, const char* text, int number);

// Composes and shows a numbered message, captioned "Brellin Message".
void showMessage(MessageSink& sink, const char* text, int number);
// The same with lines that say what to do, after the numbered line and
// outside its field (so a long path is never cut).
void showMessage(MessageSink& sink, const char* text, int number, const std::string& detail);

// Prints every message to stderr as "caption: text".
class StderrMessageSink : public MessageSink {
public:
    void showMessageBox(const char* text, const char* caption) override;
};

}  // namespace brellin
