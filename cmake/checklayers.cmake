# Refuses an include that points up the layers: src/platform <- store <- plugins <- service
# <- sync <- app and windows (one library). A lower layer tells a higher one things through a
# notification or a callback, never by including its headers.
#
#   cmake -DSOURCE_DIR=<src folder> [-DSTAMP=<file written on success>] -P checklayers.cmake
#   cmake -DSELFTEST=<scratch folder> -P checklayers.cmake   (the check must catch a planted fault)

set(_layers platform store plugins service sync app windows)
set(_rank_platform 0)
set(_rank_store 1)
set(_rank_plugins 2)
set(_rank_service 3)
set(_rank_sync 4)
set(_rank_app 5)
set(_rank_windows 5)

# Sets <out> to the list of "file: include" lines that point up.
function(nuvarel_upward_includes dir out)
  set(_found "")
  file(GLOB_RECURSE _files RELATIVE ${dir} ${dir}/*.h ${dir}/*.cpp ${dir}/*.c)
  foreach(_f ${_files})
    string(REGEX MATCH "^[^/]+" _own "${_f}")
    if(NOT DEFINED _rank_${_own})
      continue()  # main.cpp and anything outside the layers may include every layer
    endif()
    file(STRINGS ${dir}/${_f} _lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
    foreach(_line ${_lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" _inc "${_line}")
      string(REGEX MATCH "^[^/]+" _target "${_inc}")
      if(DEFINED _rank_${_target} AND _rank_${_target} GREATER _rank_${_own})
        list(APPEND _found "${_f}: #include \"${_inc}\"")
      endif()
    endforeach()
  endforeach()
  set(${out} "${_found}" PARENT_SCOPE)
endfunction()

if(SELFTEST)
  # A store file that includes an app header must be caught; a store file that includes a
  # platform header must not.
  file(REMOVE_RECURSE ${SELFTEST})
  file(WRITE ${SELFTEST}/store/good.cpp "#include \"platform/dispatch.h\"\n#include \"store/good.h\"\n")
  file(WRITE ${SELFTEST}/store/bad.h "#pragma once\n  #  include \"app/menucontroller.h\"\n")
  file(WRITE ${SELFTEST}/app/top.cpp "#include \"windows/x.h\"\n#include \"sync/y.h\"\n")
  nuvarel_upward_includes(${SELFTEST} _up)
  file(REMOVE_RECURSE ${SELFTEST})
  if(NOT _up STREQUAL "store/bad.h: #include \"app/menucontroller.h\"")
    message(FATAL_ERROR "the layer check missed or misread a planted upward include: '${_up}'")
  endif()
  return()
endif()

nuvarel_upward_includes(${SOURCE_DIR} _up)
if(_up)
  string(REPLACE ";" "\n  " _text "${_up}")
  message(FATAL_ERROR "includes that point up the layers:\n  ${_text}")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
