# Hand tracker measurements on virtual-sensor scenes (the table in docs/tracking.md), and on the
# real recordings of ../shared/realdepth when the tests' reader of them is built.
tolvane_add_bench(tolvane-tracker-bench SOURCES TrackerBench.cpp LIBS tolvane_tracker_core tolvane_sim)
if(TARGET tolvane_realdepth)
  target_link_libraries(tolvane-tracker-bench PRIVATE tolvane_realdepth)
  target_compile_definitions(tolvane-tracker-bench PRIVATE TOLVANE_REALDEPTH=1)
endif()
