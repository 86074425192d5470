# Run by ctest after the tests (CTEST_CUSTOM_POST_TEST, argument: the build folder): counts the
# tests of the run that skipped because something they need is missing (the real-world samples,
# 7zz, osslsigncode; each skip writes a line to Testing/skipped-prerequisites.log, which ctest
# empties before the run) and says so at the end, where a developer reads. With CI set those
# tests fail instead.
set(_log "${CMAKE_ARGV3}/Testing/skipped-prerequisites.log")
if(NOT EXISTS "${_log}")
  return()
endif()
file(STRINGS "${_log}" _skips)
list(LENGTH _skips _count)
if(_count EQUAL 0)
  return()
endif()
set(_what ${_skips})
list(REMOVE_DUPLICATES _what)
list(JOIN _what ", " _what)
# ctest shows what post-test commands write to standard output (message() writes to stderr).
set(_bar "********************************************************************************")
foreach(_line IN ITEMS "${_bar}"
                       "WARNING: ${_count} test(s) SKIPPED, something they need is missing: ${_what}"
                       "         The run is incomplete; with CI=1 these tests fail instead."
                       "${_bar}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${_line}")
endforeach()
