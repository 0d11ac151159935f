# Whole-path figures of docs/performance.md (scripts/bench runs them):
#   tolvane-frame-bench    per-frame cost of the frame path, with a plain read pass
#   tolvane-latency-bench  frames from a true threshold crossing to the event
#   tolvane-jitter-bench   cursor jitter for a still hand in mouse mode
# They open scenes through OpenNI 2 and the hand tracker like the viewer.
if(TARGET tolvane_app AND TARGET tolvane_sim)
  foreach(b frame latency jitter)
    string(SUBSTRING ${b} 0 1 first)
    string(TOUPPER ${first} first)
    string(SUBSTRING ${b} 1 -1 tail)
    set(src ${CMAKE_CURRENT_LIST_DIR}/${first}${tail}Bench.cpp)
    if(EXISTS ${src})
      tolvane_add_bench(tolvane-${b}-bench SOURCES ${src} LIBS tolvane_app tolvane_sim)
      target_compile_definitions(tolvane-${b}-bench PRIVATE TOLVANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
      tolvane_use_staged_openni(tolvane-${b}-bench)
    endif()
  endforeach()
endif()
