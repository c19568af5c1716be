# The BRL play-list reader, merging arbitrary bytes into a list.
brellin_fuzz(play_list SOURCES ${CMAKE_CURRENT_LIST_DIR}/PlayListFuzz.cpp LIBS brellin_playlist)
