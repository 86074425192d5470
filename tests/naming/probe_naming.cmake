# cmake -DCLANG_TIDY=<clang-tidy> -DCONFIG=<.clang-tidy> -DPROBE_DIR=<scratch> -P probe_naming.cmake
#
# clang-tidy ignores an option key it does not know, so a misspelt line of .clang-tidy switches its
# rule off without a word. One name per rule breaks it, and one name per kind of outside name
# (ported, Windows, COM) keeps its spelling: exactly the bad ones must be reported.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${PROBE_DIR})
file(WRITE ${PROBE_DIR}/probe.cpp [=[
namespace BadSpace {}
namespace good_space {
struct bad_struct {};
using bad_alias = int;
class GoodClass {
public:
    void goodMethod();
    void BadMethod();
    void ReadString();
    void QueryInterface();
    int goodMember;
    int BadMember;
    int FFileName;
    static const int kGoodClassConstant = 1;
    static const int badClassConstant = 2;

private:
    int good_;
    int badPrivate;
};
enum class Mode { Good, kBad };
constexpr int kGood = 1;
constexpr int badConstant = 2;
constexpr int CALG_SHA1 = 3;
const int kGoodGlobal = 4;
const int badGlobal = 5;
struct SP_INF_SIGNER_INFO_V2_W {};
void GoodFunction(int goodParam, int BadParam);
void badFunction();
inline int UseLocals() {
    int goodLocal = 0;
    int Bad_Local = 0;
    static const int table = 1;
    return goodLocal + Bad_Local + table;
}
} // namespace good_space
]=])
set(_expected BadSpace bad_struct bad_alias BadMethod BadMember badClassConstant badPrivate kBad
              badConstant badGlobal BadParam badFunction Bad_Local)
execute_process(COMMAND ${CLANG_TIDY} --config-file=${CONFIG} ${PROBE_DIR}/probe.cpp -- -std=c++20
                RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
string(REGEX MATCHALL "invalid case style for [^']*'[^']+'" _found "${_out}")
set(_names)
foreach(_line IN LISTS _found)
  string(REGEX REPLACE ".*'([^']+)'$" "\\1" _name "${_line}")
  list(APPEND _names ${_name})
endforeach()
list(REMOVE_DUPLICATES _names)
list(SORT _names)
list(SORT _expected)
if(NOT _names STREQUAL _expected)
  message(FATAL_ERROR "expected: ${_expected}\nreported: ${_names}\n${_out}\n${_err}")
endif()
message(STATUS "naming probes: ${_names}")
