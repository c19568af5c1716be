brellin_fuzz(sf2_convert SOURCES ${CMAKE_CURRENT_LIST_DIR}/Sf2ConvertFuzz.cpp LIBS brellin_fontmaker)
