# The skin's BMP decoder, fed from memory at the offsets the skin uses.
brellin_fuzz(bitmap SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/BitmapFuzz.cpp LIBS brellin_display)
