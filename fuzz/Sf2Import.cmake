brellin_fuzz(sf2_import SOURCES ${CMAKE_CURRENT_LIST_DIR}/Sf2ImportFuzz.cpp LIBS brellin_fontmaker)
