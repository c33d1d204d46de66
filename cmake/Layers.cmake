# One static library per layer of src/, each linking only the layers below it.
#
# The build enforces the direction of includes. Every layer gets an include
# root of its own in the build tree: a directory holding a single link, named
# after the layer, to src/<layer>. A layer's library exposes only that root,
# and linking a layer passes its root on to the layers above. So from
# src/fs/x.cpp, "common/utf8.h" resolves (fs links common) while
# "index/index.h" finds no file and the build stops there.
#
# A relative include ("../index/index.h") would get around the roots, so every
# build first checks that there is none (cmake/CheckIncludes.cmake).
#
# Platform code lives in *_linux.cpp / *_macos.cpp; only this platform's files are built.
add_custom_target(qm_include_check ALL
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/CheckIncludes.cmake
  COMMENT "Checking that includes name their layer")

function(qm_layer name)
  cmake_parse_arguments(LAYER "" "" "LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp)
  if(APPLE)
    list(FILTER sources EXCLUDE REGEX "_linux\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_macos\\.cpp$")
  endif()
  set(root ${CMAKE_BINARY_DIR}/layer_roots/${name})
  file(MAKE_DIRECTORY ${root})
  if(NOT IS_SYMLINK ${root}/${name})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${name} ${root}/${name} SYMBOLIC)
  endif()
  add_library(qm_${name} STATIC ${sources})
  target_include_directories(qm_${name} PUBLIC ${root})
  target_compile_options(qm_${name} PRIVATE ${QM_WARNINGS})
  target_link_libraries(qm_${name} PUBLIC ${LAYER_LINKS})
  add_dependencies(qm_${name} qm_include_check)
endfunction()
