tolvane_add_bench(cursor_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/CursorBench.cpp LIBS tolvane_input)
