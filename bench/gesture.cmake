tolvane_add_bench(gesture_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/GestureBench.cpp LIBS tolvane_gesture)
