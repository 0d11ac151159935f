# Hand tracker measurements on virtual-sensor scenes (the table in docs/tracking.md).
tolvane_add_bench(tolvane-tracker-bench SOURCES TrackerBench.cpp LIBS tolvane_tracker_core tolvane_sim)
