# The BRF loader over arbitrary bytes; every record it accepts is then read
# the way the mix routines read it.
brellin_fuzz(soundfont_loader SOURCES ${CMAKE_CURRENT_LIST_DIR}/SoundFontLoaderFuzz.cpp LIBS brellin_soundfont brellin_synth)
