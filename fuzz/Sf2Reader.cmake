brellin_fuzz(sf2_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/Sf2ReaderFuzz.cpp LIBS brellin_fontmaker)
