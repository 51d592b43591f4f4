# Refuses an include that points up the layers: src/platform <- store <- plugins <- service
# <- sync <- app and windows (one library). A lower layer tells a higher one things through a
# notification or a callback, never by including its headers. It also refuses a product file
# that includes a test fake (anything under a "fake" folder): the fakes are a library of
# their own that only the tests link.
#
# Every include form counts: "layer/x.h", <layer/x.h>, and relative paths such as
# "../layer/x.h" or "./../../src/layer/x.h", which are resolved against the including file's
# folder the way the compiler does. Sources are read as the preprocessor reads them: continued
# lines joined and comments blanked first. An include of a macro is refused inside a layer, and
# so is any source outside the layer folders but the two entry points, main.cpp and
# luaworker.cpp.
#
#   cmake -DSOURCE_DIR=<src folder> [-DSTAMP=<file written on success>] -P checklayers.cmake
#   cmake -DSELFTEST=<scratch folder> -P checklayers.cmake   (the check must catch planted faults)

set(_rank_platform 0)
set(_rank_store 1)
set(_rank_plugins 2)
set(_rank_service 3)
set(_rank_sync 4)
set(_rank_app 5)
set(_rank_windows 5)

# Sets <out> to the path of <abs> below <root>, or to "" when it lies outside.
function(nuvarel_inside root abs out)
  cmake_path(IS_PREFIX root "${abs}" NORMALIZE _in)
  if(_in)
    cmake_path(RELATIVE_PATH abs BASE_DIRECTORY "${root}" OUTPUT_VARIABLE _rel)
    set(${out} "${_rel}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

# Sets <out> to the places (paths below dir) an include may name: for "..." the file beside
# the including one when it exists, else that place and the include root's; for <...> the
# include root's.
function(nuvarel_include_targets dir file inc quoted out)
  set(_places "")
  cmake_path(GET file PARENT_PATH _from)
  set(_beside "${dir}/${_from}/${inc}")
  cmake_path(NORMAL_PATH _beside)
  set(_rooted "${dir}/${inc}")
  cmake_path(NORMAL_PATH _rooted)
  if(quoted AND EXISTS "${_beside}" AND NOT IS_DIRECTORY "${_beside}")
    set(_candidates "${_beside}")
  elseif(quoted)
    set(_candidates "${_beside}" "${_rooted}")
  else()
    set(_candidates "${_rooted}")
  endif()
  foreach(_c ${_candidates})
    nuvarel_inside("${dir}" "${_c}" _rel)
    if(NOT _rel STREQUAL "")
      list(APPEND _places "${_rel}")
    endif()
  endforeach()
  set(${out} "${_places}" PARENT_SCOPE)
endfunction()

# Sets <out> to <text> with its comments blanked and its continued lines joined, the way the
# preprocessor sees it before directives: "/* */ #include", a "//" line and a directive split
# with a backslash must all read as they compile. String and character literals are kept whole
# so a "/*" inside one starts no comment.
function(nuvarel_strip_comments text out)
  string(REPLACE "\\\n" "" _rest "${text}")
  set(_kept "")
  while(NOT _rest STREQUAL "")
    string(REGEX MATCH "^[^\"'/]+" _plain "${_rest}")
    if(NOT _plain STREQUAL "")
      string(APPEND _kept "${_plain}")
      string(LENGTH "${_plain}" _n)
      string(SUBSTRING "${_rest}" ${_n} -1 _rest)
      continue()
    endif()
    string(SUBSTRING "${_rest}" 0 2 _two)
    if(_two STREQUAL "/*")
      string(FIND "${_rest}" "*/" _close)
      if(_close LESS 2)
        set(_rest "")
      else()
        # A comment is one space to the preprocessor; its new lines stay so lines keep their place.
        string(SUBSTRING "${_rest}" 0 ${_close} _comment)
        string(REGEX REPLACE "[^\n]" "" _lines "${_comment}")
        string(APPEND _kept " ${_lines}")
        math(EXPR _after "${_close} + 2")
        string(SUBSTRING "${_rest}" ${_after} -1 _rest)
      endif()
    elseif(_two STREQUAL "//")
      string(FIND "${_rest}" "\n" _eol)
      if(_eol LESS 0)
        set(_rest "")
      else()
        string(SUBSTRING "${_rest}" ${_eol} -1 _rest)
      endif()
    else()
      # A literal ("..." or '...', escapes kept) or a lone slash.
      string(REGEX MATCH "^(\"([^\"\\\n]|\\\\.)*\"|'([^'\\\n]|\\\\.)*'|.)" _lit "${_rest}")
      string(APPEND _kept "${_lit}")
      string(LENGTH "${_lit}" _n)
      string(SUBSTRING "${_rest}" ${_n} -1 _rest)
    endif()
  endwhile()
  set(${out} "${_kept}" PARENT_SCOPE)
endfunction()

# Sets <out> to the list of "file: include" lines that point up, reach a fake, name a macro,
# or come from a file that belongs to no layer.
function(nuvarel_upward_includes dir out)
  set(_found "")
  file(GLOB_RECURSE _files RELATIVE ${dir} ${dir}/*.h ${dir}/*.hpp ${dir}/*.cpp ${dir}/*.c)
  foreach(_f ${_files})
    string(REGEX MATCH "^[^/]+" _own "${_f}")
    if(_f STREQUAL "main.cpp" OR _f STREQUAL "luaworker.cpp")
      continue()  # the two entry points may include every layer
    endif()
    if(NOT DEFINED _rank_${_own})
      # A file outside the layer folders has no rank, so nothing could check what it includes.
      list(APPEND _found "${_f}: outside the layers")
      continue()
    endif()
    set(_own_is_fake FALSE)
    if(_f MATCHES "(^|/)fake/")
      set(_own_is_fake TRUE)
    endif()
    file(READ ${dir}/${_f} _text)
    # List separators and brackets in the source would split or group CMake's lists.
    string(REPLACE ";" " " _text "${_text}")
    string(REPLACE "[" " " _text "${_text}")
    string(REPLACE "]" " " _text "${_text}")
    nuvarel_strip_comments("${_text}" _text)
    string(REGEX MATCHALL "\n[ \t]*#[ \t]*include[^\n]*" _lines "\n${_text}")
    foreach(_line ${_lines})
      string(REGEX REPLACE "^\n[ \t]*#[ \t]*include[ \t]*" "" _operand "${_line}")
      string(STRIP "${_operand}" _operand)
      if(NOT _operand MATCHES "^[\"<][^\">]+[\">]")
        # The header a macro names is decided elsewhere; no check can rank it here.
        list(APPEND _found "${_f}: #include ${_operand} (a macro)")
        continue()
      endif()
      string(REGEX REPLACE "^([\"<])([^\">]+)[\">].*" "\\1" _open "${_operand}")
      string(REGEX REPLACE "^([\"<])([^\">]+)[\">].*" "\\2" _inc "${_operand}")
      if(_open STREQUAL "\"")
        set(_quoted TRUE)
        set(_written "\"${_inc}\"")
      else()
        set(_quoted FALSE)
        set(_written "<${_inc}>")
      endif()
      nuvarel_include_targets("${dir}" "${_f}" "${_inc}" ${_quoted} _places)
      foreach(_p ${_places})
        string(REGEX MATCH "^[^/]+" _target "${_p}")
        if(DEFINED _rank_${_target} AND _rank_${_target} GREATER _rank_${_own})
          list(APPEND _found "${_f}: #include ${_written}")
          break()
        endif()
        if(NOT _own_is_fake AND DEFINED _rank_${_target} AND _p MATCHES "(^|/)fake/")
          list(APPEND _found "${_f}: #include ${_written} (a test fake)")
          break()
        endif()
        # The interfaces name no desktop class: linux/realimplementations.cpp picks them.
        if(_f MATCHES "^platform/[^/]+$" AND _p MATCHES "^platform/(linux|x11)/")
          list(APPEND _found "${_f}: #include ${_written} (a desktop implementation)")
          break()
        endif()
      endforeach()
    endforeach()
  endforeach()
  set(${out} "${_found}" PARENT_SCOPE)
endfunction()

if(SELFTEST)
  # Each way of writing an include that points up, and a fake reached from product code, is
  # planted in a scratch tree and must be refused; the sound includes beside them must not.
  file(REMOVE_RECURSE ${SELFTEST})
  set(_src ${SELFTEST}/src)
  set(_bad
    "store/quoted.h|  #  include \"app/menucontroller.h\""
    "store/angled.cpp|#include <app/menucontroller.h>"
    "store/parent.cpp|#include \"../app/menucontroller.h\""
    "store/dotparent.cpp|#include \"./../app/menucontroller.h\""
    "store/detour.cpp|#include \"../windows/../app/menucontroller.h\""
    "store/throughsrc.cpp|#include \"../../src/app/menucontroller.h\""
    "store/angledparent.cpp|#include <../src/sync/mqttmanager.h>"
    "plugins/engine/deep.c|#include \"../../sync/mqttmanager.h\""
    "platform/x11/deep.cpp|#include \"../../store/historymodel.h\""
    "service/nested/deeper/far.h|#include \"../../../sync/mqttmanager.h\""
    "app/usesfake.cpp|#include \"platform/fake/keychainfake.h\""
    "windows/usesfake.cpp|#include \"fake/alertsfake.h\""
    "sync/usesfake.cpp|#include \"../platform/fake/pasteboardfake.h\"")
  set(_expected "")
  foreach(_case ${_bad})
    string(REPLACE "|" ";" _parts "${_case}")
    list(GET _parts 0 _file)
    list(GET _parts 1 _line)
    file(WRITE ${_src}/${_file} "#pragma once\n#include <QString>\n${_line}\n")
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*" "" _written "${_line}")
    if(_line MATCHES "fake/")
      list(APPEND _expected "${_file}: #include ${_written} (a test fake)")
    else()
      list(APPEND _expected "${_file}: #include ${_written}")
    endif()
  endforeach()
  # Forms a line-by-line reading misses: each compiles to an upward include, or names no file.
  file(WRITE ${_src}/store/continued.cpp "#include \\\n  \"app/menucontroller.h\"\n")
  file(WRITE ${_src}/store/aftercomment.cpp "/* why */ #include \"app/menucontroller.h\"\n")
  file(WRITE ${_src}/store/innercomment.h "#pragma once\n# /* x */ include <app/menucontroller.h>\n")
  file(WRITE ${_src}/store/pastliteral.cpp
    "const char* a = \"/*\"\;\n#include \"app/menucontroller.h\"\nconst char* b = \"*/\"\;\n")
  file(WRITE ${_src}/store/macro.cpp "#define NUVAREL_UP \"app/menucontroller.h\"\n#include NUVAREL_UP\n")
  file(WRITE ${_src}/platform/keychain.cpp "#include \"platform/linux/keychainsecretservice.h\"\n")
  file(WRITE ${_src}/platform/linux/realimplementations.cpp "#include \"platform/x11/globalhotkeyx11.h\"\n")
  file(WRITE ${_src}/sneaky.h "#pragma once\n#include \"app/menucontroller.h\"\n")
  list(APPEND _expected
    "store/continued.cpp: #include \"app/menucontroller.h\""
    "store/aftercomment.cpp: #include \"app/menucontroller.h\""
    "store/innercomment.h: #include <app/menucontroller.h>"
    "store/pastliteral.cpp: #include \"app/menucontroller.h\""
    "store/macro.cpp: #include NUVAREL_UP (a macro)"
    "platform/keychain.cpp: #include \"platform/linux/keychainsecretservice.h\" (a desktop implementation)"
    "sneaky.h: outside the layers")
  # Commented out, in either form: not an include.
  file(WRITE ${_src}/store/commentedout.cpp
    "/*\n#include \"app/menucontroller.h\"\n*/\n// #include \"app/x.h\" \\\n#include \"app/y.h\"\n")
  file(WRITE ${_src}/app/menucontroller.h "#pragma once\n")
  file(WRITE ${_src}/windows/fake/alertsfake.h "#pragma once\n#include \"windows/alerts.h\"\n#include \"app/x.h\"\n")
  file(WRITE ${_src}/platform/fake/keychainfake.h "#pragma once\n#include \"platform/keychain.h\"\n#include \"../keychain.h\"\n")
  file(WRITE ${_src}/platform/fake/pasteboardfake.h "#pragma once\n#include \"platform/fake/keychainfake.h\"\n")
  file(WRITE ${_src}/store/good.cpp
    "#include \"platform/dispatch.h\"\n#include \"store/good.h\"\n#include \"good.h\"\n"
    "#include \"../platform/dispatch.h\"\n#include <platform/userdefaults.h>\n#include <QString>\n"
    "// #include \"app/commented.h\"\n")
  file(WRITE ${_src}/store/good.h "#pragma once\n")
  file(WRITE ${_src}/plugins/engine/engine.c "#include \"../pluginmanager.h\"\n#include \"engine.h\"\n")
  file(WRITE ${_src}/plugins/engine/engine.h "#pragma once\n")
  file(WRITE ${_src}/app/top.cpp "#include \"windows/x.h\"\n#include \"sync/y.h\"\n#include \"../windows/z.h\"\n")
  file(WRITE ${_src}/main.cpp "#include \"app/appdelegate.h\"\n#include \"platform/fake/keychainfake.h\"\n")
  nuvarel_upward_includes(${_src} _up)
  file(REMOVE_RECURSE ${SELFTEST})
  list(SORT _up)
  list(SORT _expected)
  if(NOT _up STREQUAL _expected)
    string(REPLACE ";" "\n  " _got "${_up}")
    string(REPLACE ";" "\n  " _want "${_expected}")
    message(FATAL_ERROR "the layer check missed or misread a planted include.\nfound:\n  ${_got}\nplanted:\n  ${_want}")
  endif()
  return()
endif()

nuvarel_upward_includes(${SOURCE_DIR} _up)
if(_up)
  string(REPLACE ";" "\n  " _text "${_up}")
  message(FATAL_ERROR "includes the layers refuse (pointing up, reaching a test fake or a desktop class, or outside the layers):\n  ${_text}")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
