# The Kinect driver's per-frame cost (sim/freenect/): conversion and hand-over.
if(TARGET tolvane_kinect_depth)
  tolvane_add_bench(kinect_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/KinectBench.cpp ${CMAKE_SOURCE_DIR}/sim/freenect/FreenectDevice.cpp
    LIBS tolvane_kinect_depth tolvane_oni_driver)
  # FreenectDevice.cpp is compiled here: its header comes from the driver module.
  target_include_directories(kinect_bench PRIVATE ${CMAKE_BINARY_DIR}/include/TolvaneFreenect)
endif()
