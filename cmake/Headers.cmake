# Per-target include folders: the layering between the libraries, made visible
# to the compiler.
#
#   tolvane_public_headers(<target> <header>...)
#
# links each header (a path relative to the current source folder) into
# ${CMAKE_BINARY_DIR}/include/<target>/<path from the source root>, e.g.
# include/tolvane_config/config/EventRouter.h, and gives <target> that folder
# as PUBLIC include directory. No folder of the source tree is on any include
# path, so a file sees "config/EventRouter.h" only when its target links
# tolvane_config (directly or through the libraries it links): an include
# against the dependency direction fails to compile.
#
# The links are made at configure time; CONFIGURE_DEPENDS globs (see
# tolvane_folder_headers) configure again when a header is added or removed.
function(tolvane_public_headers target)
  set(stage ${CMAKE_BINARY_DIR}/include/${target})
  foreach(header IN LISTS ARGN)
    set(source ${CMAKE_CURRENT_SOURCE_DIR}/${header})
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${source})
    get_filename_component(folder ${stage}/${relative} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${source} ${stage}/${relative} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${stage})
  else()
    target_include_directories(${target} PUBLIC ${stage})
  endif()
endfunction()

# tolvane_folder_headers(<target>): every *.h of the current source folder
# (not its subfolders) as <target>'s public headers.
function(tolvane_folder_headers target)
  file(GLOB headers RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  tolvane_public_headers(${target} ${headers})
endfunction()

# tolvane_folder_headers_dir(<folder>): every *.h below <folder> (a folder of
# the source root: tests, bench) on the include path of every target defined
# in the current folder and below, as "<folder>/.../X.h".
function(tolvane_folder_headers_dir folder)
  set(stage ${CMAKE_BINARY_DIR}/include/${folder}-helpers)
  file(GLOB_RECURSE headers RELATIVE ${CMAKE_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/${folder}/*.h)
  foreach(relative IN LISTS headers)
    get_filename_component(dir ${stage}/${relative} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${relative} ${stage}/${relative} SYMBOLIC)
  endforeach()
  include_directories(${stage})
endfunction()

# A fresh set of links each time CMake configures, so a removed header is gone.
file(REMOVE_RECURSE ${CMAKE_BINARY_DIR}/include)
