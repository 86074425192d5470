# cmake -DPROBE_DIR=<scratch folder> -DCHECKER=<cmake/check-layering.cmake> -P probe_layering.cmake
#
# Builds a small tree shaped like ours, with the include folders our targets use, and runs the
# layering check the build runs: every bad include below must be reported at its file and line
# with the rule it breaks, the good ones must pass, and the tree without the bad files must pass.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${PROBE_DIR})

function(probe path)
  string(REPLACE ";" "\n" _text "${ARGN}")
  file(WRITE ${PROBE_DIR}/${path} "${_text}\n")
endfunction()

# The headers the probes reach.
probe(src/base/outcome.h "#pragma once")
probe(src/verify/checks.h "#pragma once")
probe(src/platform/files.h "#pragma once")
probe(src/platform/posix/crypto/der.h "#pragma once")
probe(src/platform/posix/os/unique_fd.h "#pragma once")
probe(src/trust/include/halyard/trust/trust.h "#pragma once")
probe(src/trust/src/chain.h "#pragma once")
probe(tools/signtool/run_index.h "#pragma once")
probe(src/external/sevenzip/sevenzip.h "#pragma once")
probe(src/external/sevenzip/sevenzip_gate.h "#pragma once")

# Allowed: downward, own private headers, the POSIX backend on the engine's public header, tests
# on the private headers of the module they mirror, fuzz targets on a parser's.
probe(src/verify/good.cpp "#include <string>" "#include \"base/outcome.h\""
      "#include \"external/sevenzip/sevenzip.h\""
      "#include \"platform/files.h\"" "#include \"checks.h\"")
probe(src/platform/posix/os/good.cpp "#include \"halyard/trust/trust.h\""
      "#include \"crypto/der.h\"" "#include \"../crypto/der.h\"")
probe(src/trust/src/good.cpp "#include \"chain.h\"" "#include \"base/outcome.h\"")
probe(tools/signtool/good.cpp "#include \"halyard/trust/trust.h\"" "#include \"verify/checks.h\""
      "#include \"run_index.h\"")
probe(tests/unit/platform/posix/os/good_test.cpp "#include \"os/unique_fd.h\"")
probe(tests/unit/external/sevenzip/good_test.cpp "#include \"external/sevenzip/sevenzip_gate.h\"")
probe(tests/unit/trust/good_test.cpp "#include \"chain.h\"" "#include \"halyard/trust/trust.h\"")
probe(tests/tools/signtool/good_test.cpp "#include \"run_index.h\"")
probe(fuzz/fuzz_good.cpp "#include \"crypto/der.h\"" "#include \"chain.h\"")

# Rejected, each with the line it is on.
set(_expected
    "src/base/upward.cpp:2: error: #include \"verify/checks.h\": src/base/ may not include verify"
    "src/platform/upward.cpp:1: error: #include \"halyard/trust/trust.h\": src/platform/ may not include trust"
    "src/catalog/bypass.cpp:1: error: #include <halyard/trust/trust.h>: src/catalog/ may not include trust"
    "src/catalog/private.cpp:3: error: #include \"platform/posix/os/unique_fd.h\": src/platform/posix/os/unique_fd.h is private to platform"
    "src/catalog/private.cpp:4: error: #include \"os/unique_fd.h\": src/platform/posix/os/unique_fd.h is private to platform"
    "src/catalog/private.cpp:5: error: #include \"../platform/posix/os/unique_fd.h\": src/platform/posix/os/unique_fd.h is private to platform"
    "tools/catinspect/private.cpp:1: error: #include \"chain.h\": src/trust/src/chain.h is private to trust"
    "tools/catinspect/private.cpp:2: error: #include \"../signtool/run_index.h\": tools/signtool/run_index.h is private to tools/signtool"
    "tests/e2e/private_test.cpp:1: error: #include \"os/unique_fd.h\": src/platform/posix/os/unique_fd.h is private to platform"
    "src/verify/internal.cpp:1: error: #include \"external/sevenzip/sevenzip_gate.h\": src/external/sevenzip/sevenzip_gate.h is private to external")
probe(src/base/upward.cpp "#include \"base/outcome.h\"" "#include \"verify/checks.h\"")
probe(src/platform/upward.cpp "#include \"halyard/trust/trust.h\"")
probe(src/catalog/bypass.cpp "#include <halyard/trust/trust.h>")
probe(src/catalog/private.cpp "#include \"platform/files.h\"" "// A comment between."
      "#include \"platform/posix/os/unique_fd.h\"" "#include \"os/unique_fd.h\""
      "#include \"../platform/posix/os/unique_fd.h\"")
probe(tools/catinspect/private.cpp "#include \"chain.h\"" "#include \"../signtool/run_index.h\"")
probe(tests/e2e/private_test.cpp "#include \"os/unique_fd.h\"")
probe(src/verify/internal.cpp "#include \"external/sevenzip/sevenzip_gate.h\"")

set(_roots "src|src/platform/posix|src/trust/include|src/trust/src|tools/signtool")
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROBE_DIR} "-DROOTS=${_roots}"
                        -P ${CHECKER}
                RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
if(_rc EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with bad includes:\n${_out}")
endif()
set(_failed)
foreach(_line IN LISTS _expected)
  string(FIND "${_out}" "${_line}" _at)
  if(_at LESS 0)
    list(APPEND _failed "${_line}")
  endif()
endforeach()
string(REGEX MATCHALL "[^\n]*: error: [^\n]*" _reported "${_out}")
list(LENGTH _reported _count)
list(LENGTH _expected _want)
if(_failed OR NOT _count EQUAL _want)
  string(REPLACE ";" "\n" _failed "${_failed}")
  message(FATAL_ERROR "expected ${_want} errors, got ${_count}; missing:\n${_failed}\n"
                      "output:\n${_out}")
endif()

# Without the bad files the same tree passes.
file(REMOVE ${PROBE_DIR}/src/base/upward.cpp ${PROBE_DIR}/src/platform/upward.cpp
     ${PROBE_DIR}/src/catalog/bypass.cpp ${PROBE_DIR}/src/catalog/private.cpp
     ${PROBE_DIR}/tools/catinspect/private.cpp ${PROBE_DIR}/tests/e2e/private_test.cpp
     ${PROBE_DIR}/src/verify/internal.cpp)
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROBE_DIR} "-DROOTS=${_roots}"
                        -P ${CHECKER}
                RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "the check refused a tree of good includes:\n${_out}")
endif()
message(STATUS "layering probes: ${_want} bad includes refused, the good ones passed")
