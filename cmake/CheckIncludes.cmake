# Run as `cmake -DSOURCE_DIR=... -P CheckIncludes.cmake` on every build (see
# Layers.cmake). A quoted include is looked up beside the including file
# first, so "../index/index.h" from src/fs would reach a higher layer around
# the include roots; such includes fail the build here.
file(GLOB_RECURSE files "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.cpp")
set(found "")
foreach(file ${files})
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"\\.")
  foreach(line ${lines})
    list(APPEND found "${file}: ${line}")
  endforeach()
endforeach()
if(found)
  list(JOIN found "\n  " text)
  message(FATAL_ERROR "includes must name their layer (\"layer/header.h\"), not a relative path:\n  ${text}")
endif()
