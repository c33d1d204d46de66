# BLAKE3: an installed package where there is one (the official C library's
# CMake package, as Homebrew's blake3 installs it), otherwise built here from
# the reference C sources in QM_BLAKE3_SOURCE_DIR (by default the copy Debian
# ships in librust-blake3-dev), with their SIMD code for the target.
find_package(BLAKE3 CONFIG QUIET)
if(TARGET BLAKE3::blake3)
  return()
endif()

if(NOT QM_BLAKE3_SOURCE_DIR)
  file(GLOB QM_BLAKE3_CANDIDATES /usr/share/cargo/registry/blake3-*/c/blake3.h)
  if(QM_BLAKE3_CANDIDATES)
    list(SORT QM_BLAKE3_CANDIDATES COMPARE NATURAL ORDER DESCENDING)
    list(GET QM_BLAKE3_CANDIDATES 0 QM_BLAKE3_HEADER)
    get_filename_component(QM_BLAKE3_FOUND_DIR "${QM_BLAKE3_HEADER}" DIRECTORY)
  endif()
endif()
set(QM_BLAKE3_SOURCE_DIR "${QM_BLAKE3_FOUND_DIR}" CACHE PATH
    "Folder of the BLAKE3 C sources (blake3.h, blake3.c, ...) when no BLAKE3 package is installed")
if(NOT EXISTS "${QM_BLAKE3_SOURCE_DIR}/blake3.h")
  message(FATAL_ERROR "BLAKE3 not found: install it (Debian: librust-blake3-dev, see scripts/install-deps.sh; "
                      "macOS: brew install blake3), or set QM_BLAKE3_SOURCE_DIR to the c/ folder of its sources")
endif()
set(QM_BLAKE3_DIR "${QM_BLAKE3_SOURCE_DIR}")

# The architecture the build targets: on macOS the one asked for with
# CMAKE_OSX_ARCHITECTURES (a single one), else the machine's.
set(QM_BLAKE3_ARCH "${CMAKE_SYSTEM_PROCESSOR}")
if(APPLE AND CMAKE_OSX_ARCHITECTURES)
  list(LENGTH CMAKE_OSX_ARCHITECTURES QM_ARCH_COUNT)
  if(NOT QM_ARCH_COUNT EQUAL 1)
    message(FATAL_ERROR "BLAKE3 from sources builds one architecture; for a universal build install the BLAKE3 package")
  endif()
  set(QM_BLAKE3_ARCH "${CMAKE_OSX_ARCHITECTURES}")
endif()

set(QM_BLAKE3_SOURCES
  ${QM_BLAKE3_DIR}/blake3.c
  ${QM_BLAKE3_DIR}/blake3_dispatch.c
  ${QM_BLAKE3_DIR}/blake3_portable.c)
if(QM_BLAKE3_ARCH MATCHES "x86_64|AMD64")
  list(APPEND QM_BLAKE3_SOURCES
    ${QM_BLAKE3_DIR}/blake3_sse2_x86-64_unix.S
    ${QM_BLAKE3_DIR}/blake3_sse41_x86-64_unix.S
    ${QM_BLAKE3_DIR}/blake3_avx2_x86-64_unix.S
    ${QM_BLAKE3_DIR}/blake3_avx512_x86-64_unix.S)
elseif(QM_BLAKE3_ARCH MATCHES "aarch64|arm64")
  list(APPEND QM_BLAKE3_SOURCES ${QM_BLAKE3_DIR}/blake3_neon.c)
  set(QM_BLAKE3_DEFS BLAKE3_USE_NEON=1)
else()
  set(QM_BLAKE3_DEFS BLAKE3_NO_SSE2 BLAKE3_NO_SSE41 BLAKE3_NO_AVX2 BLAKE3_NO_AVX512)
endif()

add_library(qm_blake3 STATIC ${QM_BLAKE3_SOURCES})
target_include_directories(qm_blake3 SYSTEM PUBLIC ${QM_BLAKE3_DIR})
target_compile_definitions(qm_blake3 PRIVATE ${QM_BLAKE3_DEFS})
set_target_properties(qm_blake3 PROPERTIES POSITION_INDEPENDENT_CODE ON)
add_library(BLAKE3::blake3 ALIAS qm_blake3)
