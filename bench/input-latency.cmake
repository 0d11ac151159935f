# Key-press latency from the emitter to a receiving client, Wayland and XTest
# (uses the end-to-end helpers of tests/support: private sway and Xvfb).
if(TARGET tolvane_platform_wayland AND TARGET tolvane_test_support)
  tolvane_add_bench(tolvane-input-latency-bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/InputLatencyBench.cpp ${CMAKE_CURRENT_LIST_DIR}/XReceiver.cpp
    LIBS tolvane_config tolvane_platform_wayland tolvane_platform_x11 tolvane_test_support X11::X11)
endif()
