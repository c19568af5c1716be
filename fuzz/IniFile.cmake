# The INI reader: lines, sections and keys from arbitrary bytes, then a save
# of what was read and a second read of the saved file.
brellin_fuzz(ini_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniFileFuzz.cpp LIBS brellin_settings)
