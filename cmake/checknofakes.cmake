# Refuses a program that carries a test fake: any symbol it defines whose name holds "fake"
# (our stand-ins are all named ...Fake). Symbols it only imports do not count: libXtst's
# XTestFakeKeyEvent is how the real paste keystroke is sent.
#
#   cmake -DNM=<nm> -DBINARY=<program> -P checknofakes.cmake

execute_process(COMMAND ${NM} -C --defined-only ${BINARY}
  OUTPUT_VARIABLE _symbols ERROR_VARIABLE _error RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
  message(FATAL_ERROR "${NM} could not read ${BINARY}: ${_error}")
endif()
string(REGEX MATCHALL "[^\n]*[Ff][Aa][Kk][Ee][^\n]*" _fakes "${_symbols}")
if(_fakes)
  list(LENGTH _fakes _count)
  list(SUBLIST _fakes 0 10 _shown)
  string(REPLACE ";" "\n  " _text "${_shown}")
  message(FATAL_ERROR "test fakes found: ${_count}\nin ${BINARY}, such as:\n  ${_text}")
endif()
