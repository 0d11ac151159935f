# The Kinect driver's per-frame cost (sim/freenect/): conversion and hand-over.
if(TARGET tolvane_kinect_depth)
  tolvane_add_bench(kinect_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/KinectBench.cpp ${CMAKE_SOURCE_DIR}/sim/freenect/FreenectDevice.cpp
    LIBS tolvane_kinect_depth)
  target_include_directories(kinect_bench PRIVATE ${OPENNI2_INCLUDE_DIR})
endif()
