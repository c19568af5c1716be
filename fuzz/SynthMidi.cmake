# Arbitrary MIDI bytes into the Synthesizer with the default sound font
# (small.brf beside the build's programs, BRELLIN_SOUND_FONT, or a tiny
# built-in font), rendering slices of every voice between chunks of bytes in
# an output format chosen by the first byte.
brellin_fuzz(synth_midi SOURCES ${CMAKE_CURRENT_LIST_DIR}/SynthMidiFuzz.cpp LIBS brellin_synth)
if(TARGET default-sound-font)
  add_dependencies(synth_midi default-sound-font)
endif()
