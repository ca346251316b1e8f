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

# Header-only libraries (Boost, Loki) come from the host's packages in a cross build too; only
# their directories are exposed, never the host's whole /usr/include (its C library headers
# are the host's).
if(CMAKE_CROSSCOMPILING)
  set(vx_host_headers ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${vx_host_headers})
  foreach(lib boost loki)
    if(NOT EXISTS /usr/include/${lib})
      message(FATAL_ERROR "${lib} headers missing in /usr/include (tools/deps.sh installs them)")
    endif()
    file(CREATE_LINK /usr/include/${lib} ${vx_host_headers}/${lib} SYMBOLIC)
  endforeach()
  list(APPEND VX_SYSTEM_INCLUDES ${vx_host_headers})

  # Libraries that Debian offers for the host only: the parts that need them are not built
  # for the target.
  message(STATUS "Cross build: net-snmp (SNMP trap packer), libpri and libss7 (interop test "
                 "peers) have no ${CMAKE_SYSTEM_PROCESSOR} packages; the parts that need them are left out")
endif()
