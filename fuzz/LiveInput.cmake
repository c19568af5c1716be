# Arbitrary sequencer events (notes, controllers, pieces of system exclusive
# data, unsubscriptions) through the decoder into a LiveInput, whose played
# messages must each be whole. Only where the sequencer input is built.
if(BRELLIN_ALSA_SEQUENCER)
  brellin_fuzz(live_input SOURCES ${CMAKE_CURRENT_LIST_DIR}/LiveInputFuzz.cpp LIBS brellin_input)
endif()
