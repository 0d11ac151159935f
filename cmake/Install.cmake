# What `cmake --install` puts into the prefix besides the programs:
#
#   bin/tolvane, bin/tolvane-record, bin/tolvane-guard   (app/, sim/, platform/)
#   share/tolvane/gesture_event.txt     the default configuration
#   share/tolvane/examples/*.txt        the example configurations
#   share/tolvane/scenes/               the virtual sensor's scenes (sim/)
#   share/doc/tolvane/                  the user guide, README.md, with docs/
#
# and the OpenNI 2 drivers of the virtual sensor, libTolvaneSim.so.0 (sim/),
# and of the Kinect, libTolvaneFreenect.so.0 (sim/freenect/), into
# TOLVANE_OPENNI2_DRIVERS_DIR: by default the system's OpenNI 2 driver
# folder, which is outside the prefix and needs root. The installed programs
# use the system's OpenNI 2, and it loads drivers only from that folder:
# without the drivers there, they still run with PrimeSense sensors and .oni
# recordings, and "tolvane -check" works, but scene files and Kinects do not
# open.
#
# It also installs the udev rule that lets the logged-in user write
# /dev/uinput (for the uinput input backend) into TOLVANE_UDEV_RULES_DIR, by
# default the system's rules folder, which udev reads whatever the prefix is
# (it needs root).
include(GNUInstallDirs)

install(FILES ${CMAKE_SOURCE_DIR}/gesture_event.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/tolvane)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tolvane/examples
        FILES_MATCHING PATTERN "*.txt")
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(TOLVANE_UDEV_RULES_DIR /usr/lib/udev/rules.d CACHE PATH
    "Where the udev rule for /dev/uinput goes")
install(FILES ${CMAKE_SOURCE_DIR}/platform/70-tolvane-uinput.rules
        DESTINATION ${TOLVANE_UDEV_RULES_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

# Say where the driver went, and what that means, at the end of the install.
get_filename_component(tolvane_openni2_real "${OPENNI2_LIBRARY}" REALPATH)
get_filename_component(tolvane_openni2_dir "${tolvane_openni2_real}" DIRECTORY)
set(tolvane_system_drivers "${tolvane_openni2_dir}/OpenNI2/Drivers")
install(CODE "
  if(NOT \"\$ENV{DESTDIR}\" STREQUAL \"\")
    message(STATUS \"Tolvane: the OpenNI 2 drivers are staged under DESTDIR; on the target system it belongs in ${tolvane_system_drivers}\")
  elseif(NOT \"${TOLVANE_OPENNI2_DRIVERS_DIR}\" STREQUAL \"${tolvane_system_drivers}\")
    message(STATUS \"Tolvane: the OpenNI 2 drivers went to ${TOLVANE_OPENNI2_DRIVERS_DIR}, but the system OpenNI 2 loads drivers from ${tolvane_system_drivers} only: the installed programs open no scene files and no Kinect\")
  endif()
")
