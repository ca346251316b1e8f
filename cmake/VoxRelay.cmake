# Shared build helpers: one static library per subsystem folder, globbed so that a new
# source pair needs no edit of the build files.

set(VX_SUBSYSTEM_LIBS "" CACHE INTERNAL "")

# vx_library(<name> [DIR <dir>] [EXCLUDE <regex>] [SOURCES extra...])
function(vx_library name)
  cmake_parse_arguments(A "" "DIR;EXCLUDE" "SOURCES" ${ARGN})
  if(NOT A_DIR)
    set(A_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  file(GLOB srcs CONFIGURE_DEPENDS ${A_DIR}/*.cpp)
  if(A_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${A_EXCLUDE}")
  endif()
  list(APPEND srcs ${A_SOURCES})
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} SYSTEM PUBLIC ${VX_SYSTEM_INCLUDES})
  else()
    add_library(${name} INTERFACE)
  endif()
endfunction()

# Register a subsystem library in link order (lowest first).
function(vx_register name)
  get_target_property(type ${name} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    return()  # a folder with no sources yet
  endif()
  set(VX_SUBSYSTEM_LIBS ${VX_SUBSYSTEM_LIBS} ${name} CACHE INTERNAL "")
endfunction()

# Link every subsystem library as one group, so that order between them never matters.
function(vx_link_all target board)
  target_link_libraries(${target} PRIVATE "$<LINK_GROUP:RESCAN,${VX_SUBSYSTEM_LIBS},${board}>")
endfunction()

function(vx_executable name board)
  set(main ${CMAKE_SOURCE_DIR}/daemon/main.cpp)
  add_executable(${name} ${main})
  vx_link_all(${name} ${board})
endfunction()
