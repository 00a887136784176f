# The engine's library tree is some 240 shared objects, most of them linked with BIND_NOW, so
# the dynamic loader resolves tens of thousands of symbols before main. Each lookup walks the
# global scope from its head until it reaches the defining library, and in link order most
# definers lie far down the tree. Naming the libraries that define most of the looked-up
# symbols first puts them at the head of that scope; the tree and every library in it stay as
# they are. The order is measured on this machine's own libraries at configure time.
#
# movarin_order_libraries(<target> <libraries>...) links <target>'s users with that order,
# measured on a probe linked against <libraries>.

option(MOVARIN_ORDER_LIBRARIES "Name the most-used shared libraries first, for a faster start" ON)

function(movarin_order_libraries target)
  if(NOT MOVARIN_ORDER_LIBRARIES OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux"
     OR CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(probe_dir ${CMAKE_BINARY_DIR}/lookup-order)
  try_compile(built
    SOURCES ${PROJECT_SOURCE_DIR}/cmake/lookup_probe.cpp
    LINK_OPTIONS "LINKER:--no-as-needed"
    LINK_LIBRARIES ${ARGN}
    COPY_FILE ${probe_dir}/probe
    OUTPUT_VARIABLE log)
  if(NOT built)
    message(STATUS "Library order: the probe did not link, so the default order stays")
    return()
  endif()
  # Each line the loader prints for a binding names the library that defines the symbol.
  execute_process(
    COMMAND sh -c "LD_DEBUG=bindings '${probe_dir}/probe' 2>&1 >/dev/null | sed -n 's/.* to \\(\\/[^ ]*\\) .*/\\1/p' | sort | uniq -c | sort -rn"
    OUTPUT_VARIABLE counts
    RESULT_VARIABLE status)
  string(REGEX MATCH "[^\n]*/libc\\.so\\.6" libc "${counts}")
  if(NOT status EQUAL 0 OR NOT libc)
    message(STATUS "Library order: the loader reported no bindings, so the default order stays")
    return()
  endif()
  string(REGEX REPLACE "^ *[0-9]+ " "" libc "${libc}")
  get_filename_component(system_dir "${libc}" DIRECTORY)

  string(REPLACE "\n" ";" lines "${counts}")
  set(first)
  set(lookups 0)
  set(kept 0)
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^ *([0-9]+) (.+)$")
      continue()
    endif()
    set(count ${CMAKE_MATCH_1})
    set(library ${CMAKE_MATCH_2})
    get_filename_component(dir "${library}" DIRECTORY)
    get_filename_component(name "${library}" NAME)
    # Only libraries the loader finds by name alone: one found through another library's
    # RUNPATH would not be found when named by the program. The loader itself is not linked.
    if(NOT dir STREQUAL system_dir OR name MATCHES "^ld-linux")
      continue()
    endif()
    # Past the first few dozen the gain is lost in the noise.
    if(kept EQUAL 64 OR count LESS 32)
      break()
    endif()
    list(APPEND first "${library}")
    math(EXPR lookups "${lookups} + ${count}")
    math(EXPR kept "${kept} + 1")
  endforeach()
  list(JOIN first " " joined)
  target_link_options(${target} INTERFACE
    "SHELL:-Wl,--push-state,--no-as-needed ${joined} -Wl,--pop-state")
  message(STATUS "Library order: ${kept} libraries first, defining ${lookups} looked-up symbols")
endfunction()
