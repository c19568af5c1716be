# The information scan over arbitrary bytes: title, copyright and playing
# time, with the texts checked to lie inside the input.
brellin_fuzz(midi_scan SOURCES ${CMAKE_CURRENT_LIST_DIR}/MidiScanFuzz.cpp LIBS brellin_midi)
