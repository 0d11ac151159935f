tolvane_add_bench(kalman_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/KalmanBench.cpp LIBS tolvane_kalman)
