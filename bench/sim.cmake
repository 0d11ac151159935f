# Render cost of the virtual depth sensor (noise on, a person at 2 m).
tolvane_add_bench(sim_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/SimBench.cpp LIBS tolvane_sim)
target_compile_definitions(sim_bench PRIVATE TOLVANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
