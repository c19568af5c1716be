# The MIDI file reader over arbitrary bytes (RIFF walk, track table, every
# track walked to its end), then the same song played by the Sequencer with
# a discarding synthesizer: playback must end exactly at the scanned time.
brellin_fuzz(midi_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/MidiReaderFuzz.cpp LIBS brellin_player brellin_midi)
