# arm_subsystem(<target> HEADERS <folder or header under include/>...
#               SOURCES ... [PUBLIC <libs>] [PRIVATE <libs>])
#
# One static library per subsystem. Its include root holds links to its own
# header folders alone, so "motion/loop/interpolator.h" is found only by
# targets that link the motion library: an include that runs upward, or
# into a subsystem not linked, fails to compile.
function(arm_subsystem target)
  cmake_parse_arguments(A "" "" "HEADERS;SOURCES;PUBLIC;PRIVATE" ${ARGN})
  add_library(${target} STATIC ${A_SOURCES})
  set(root ${PROJECT_BINARY_DIR}/include_roots/${target})
  foreach(entry ${A_HEADERS})
    get_filename_component(parent ${root}/${entry} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${entry})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/include/${entry} ${root}/${entry} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${A_PUBLIC} PRIVATE ${A_PRIVATE})
endfunction()
