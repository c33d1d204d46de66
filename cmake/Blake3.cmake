# BLAKE3: an installed package where there is one, otherwise the reference C
# sources that Debian ships in librust-blake3-dev, built with their SIMD code.
find_package(BLAKE3 CONFIG QUIET)
if(TARGET BLAKE3::blake3)
  return()
endif()

file(GLOB QM_BLAKE3_CANDIDATES /usr/share/cargo/registry/blake3-*/c/blake3.h)
if(NOT QM_BLAKE3_CANDIDATES)
  message(FATAL_ERROR "BLAKE3 not found: install librust-blake3-dev (scripts/install-deps.sh)")
endif()
list(SORT QM_BLAKE3_CANDIDATES COMPARE NATURAL ORDER DESCENDING)
list(GET QM_BLAKE3_CANDIDATES 0 QM_BLAKE3_HEADER)
get_filename_component(QM_BLAKE3_DIR "${QM_BLAKE3_HEADER}" DIRECTORY)

set(QM_BLAKE3_SOURCES
  ${QM_BLAKE3_DIR}/blake3.c
  ${QM_BLAKE3_DIR}/blake3_dispatch.c
  ${QM_BLAKE3_DIR}/blake3_portable.c)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  list(APPEND QM_BLAKE3_SOURCES
    ${QM_BLAKE3_DIR}/blake3_sse2_x86-64_unix.S
    ${QM_BLAKE3_DIR}/blake3_sse41_x86-64_unix.S
    ${QM_BLAKE3_DIR}/blake3_avx2_x86-64_unix.S
    ${QM_BLAKE3_DIR}/blake3_avx512_x86-64_unix.S)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
  list(APPEND QM_BLAKE3_SOURCES ${QM_BLAKE3_DIR}/blake3_neon.c)
else()
  set(QM_BLAKE3_DEFS BLAKE3_NO_SSE2 BLAKE3_NO_SSE41 BLAKE3_NO_AVX2 BLAKE3_NO_AVX512)
endif()

add_library(qm_blake3 STATIC ${QM_BLAKE3_SOURCES})
target_include_directories(qm_blake3 SYSTEM PUBLIC ${QM_BLAKE3_DIR})
target_compile_definitions(qm_blake3 PRIVATE ${QM_BLAKE3_DEFS})
if(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
  target_compile_definitions(qm_blake3 PRIVATE BLAKE3_USE_NEON=1)
endif()
set_target_properties(qm_blake3 PROPERTIES POSITION_INDEPENDENT_CODE ON)
add_library(BLAKE3::blake3 ALIAS qm_blake3)
