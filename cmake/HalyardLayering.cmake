# The include layering, checked on every build. Each library declares what it publishes in
# cmake/layering-rules.cmake (its public headers, the modules its folder may use); the target
# halyard_layering runs cmake/check-layering.cmake over src/, tools/, tests/, bench/ and fuzz/
# whenever one of their files changes, and every compiled target of ours waits for it, so an upward
# or private include fails the build with its file:line and the rule it breaks. Checking the
# resolved include instead of shrinking each target's include path needs no header to move, and it
# also catches a relative "../" include and a header reached through an include folder that
# exposes more than it should.

# _halyard_layering_targets(<dir> <out>): every target defined in <dir> and below.
function(_halyard_layering_targets dir out)
  get_property(_targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(_subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(_sub IN LISTS _subdirs)
    # Only our own folders: the Windows build adds GoogleTest's sources from /usr/src.
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${_sub} _ours)
    if(_ours)
      _halyard_layering_targets(${_sub} _more)
      list(APPEND _targets ${_more})
    endif()
  endforeach()
  set(${out} ${_targets} PARENT_SCOPE)
endfunction()

function(halyard_enforce_layering)
  _halyard_layering_targets(${PROJECT_SOURCE_DIR} _targets)
  # The include folders the compiler searches, so the check resolves an include as it does.
  set(_roots)
  set(_compiled)
  foreach(_target IN LISTS _targets)
    get_target_property(_type ${_target} TYPE)
    set(_dirs)
    if(NOT _type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(_dirs ${_target} INCLUDE_DIRECTORIES)
    endif()
    get_target_property(_interface ${_target} INTERFACE_INCLUDE_DIRECTORIES)
    foreach(_dir IN LISTS _dirs _interface)
      string(REGEX REPLACE "^\\$<BUILD_INTERFACE:(.*)>$" "\\1" _dir "${_dir}")
      if(_dir AND NOT _dir MATCHES "\\$<")
        cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${_dir}" _ours)
        if(_ours)
          list(APPEND _roots ${_dir})
        endif()
      endif()
    endforeach()
    if(_type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
      list(APPEND _compiled ${_target})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES _roots)
  list(JOIN _roots "|" _roots)

  file(GLOB_RECURSE _files CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/src/*.h ${PROJECT_SOURCE_DIR}/src/*.cpp ${PROJECT_SOURCE_DIR}/src/*.inc
       ${PROJECT_SOURCE_DIR}/tools/*.h ${PROJECT_SOURCE_DIR}/tools/*.cpp
       ${PROJECT_SOURCE_DIR}/tests/*.h ${PROJECT_SOURCE_DIR}/tests/*.cpp
       ${PROJECT_SOURCE_DIR}/bench/*.h ${PROJECT_SOURCE_DIR}/bench/*.cpp
       ${PROJECT_SOURCE_DIR}/fuzz/*.h ${PROJECT_SOURCE_DIR}/fuzz/*.cpp)
  set(_stamp ${CMAKE_BINARY_DIR}/layering.stamp)
  set(_script ${PROJECT_SOURCE_DIR}/cmake/check-layering.cmake)
  add_custom_command(
    OUTPUT ${_stamp}
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} "-DROOTS=${_roots}"
            -DSTAMP=${_stamp} -P ${_script}
    DEPENDS ${_files} ${_script} ${PROJECT_SOURCE_DIR}/cmake/layering-rules.cmake
    COMMENT "Checking the include layering"
    VERBATIM)
  add_custom_target(halyard_layering ALL DEPENDS ${_stamp})
  foreach(_target IN LISTS _compiled)
    add_dependencies(${_target} halyard_layering)
  endforeach()
endfunction()

# Once every folder has declared its targets.
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL halyard_enforce_layering)
