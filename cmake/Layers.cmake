# One static library per layer of src/, each linking only the layers below it.
#
# The build enforces the direction of includes. Every layer gets an include
# root of its own in the build tree: a directory holding a single link, named
# after the layer, to src/<layer>. A layer's library exposes only that root,
# and linking a layer passes its root on to the layers above. So from
# src/fs/x.cpp, "common/utf8.h" resolves (fs links common) while
# "index/index.h" finds no file and the build stops there.
#
# Platform code lives in *_linux.cpp / *_macos.cpp; only this platform's files are built.
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
endfunction()
