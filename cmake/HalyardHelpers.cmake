# halyard_module(<name> [DIRS <subfolders...>] [DEPS <targets...>] [PRIVATE_DEPS <targets...>]):
# one static library made of every .cpp in the current folder and in the named subfolders. Its
# public headers are included as "<module>/<header>.h" from src/; DEPS are the modules its own
# headers need, PRIVATE_DEPS those only its sources need. Dependencies point downwards only:
# cli -> verify -> (catalog, inf, external, report) -> platform -> base.
function(halyard_module name)
  cmake_parse_arguments(ARG "" "" "DIRS;DEPS;PRIVATE_DEPS" ${ARGN})
  set(_globs ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(_dir IN LISTS ARG_DIRS)
    list(APPEND _globs ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}/*.cpp)
  endforeach()
  file(GLOB _src CONFIGURE_DEPENDS ${_globs})
  add_library(${name} STATIC ${_src})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS} halyard_options)
endfunction()

# halyard_add_subdirectories(): add every direct subfolder that holds a CMakeLists.txt.
function(halyard_add_subdirectories)
  file(GLOB _children LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(_child IN LISTS _children)
    if(IS_DIRECTORY ${_child} AND EXISTS ${_child}/CMakeLists.txt)
      add_subdirectory(${_child})
    endif()
  endforeach()
endfunction()
