# Whole-path figures of docs/performance.md (scripts/bench runs them):
#   tolvane-frame-bench    per-frame cost of the frame path, with a plain read pass
#   tolvane-latency-bench  frames from a true threshold crossing to the event
#   tolvane-jitter-bench   cursor jitter for a still hand in mouse mode
# They open scenes through OpenNI 2 and the hand tracker like the viewer.
foreach(b Frame Latency Jitter)
  string(TOLOWER ${b} name)
  tolvane_add_bench(tolvane-${name}-bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/${b}Bench.cpp
                    LIBS tolvane_app tolvane_sim)
  target_compile_definitions(tolvane-${name}-bench PRIVATE TOLVANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  tolvane_use_staged_openni(tolvane-${name}-bench)
endforeach()
