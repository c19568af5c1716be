brellin_fuzz(sf2_bank SOURCES ${CMAKE_CURRENT_LIST_DIR}/Sf2BankFuzz.cpp LIBS brellin_fontmaker)
target_include_directories(sf2_bank PRIVATE ${PROJECT_SOURCE_DIR})
