#!/usr/bin/env bash
# The macOS build, checked on Linux: compiles every source the macOS build uses
# (all of src/ but *_linux.cpp) and BLAKE3's C sources for arm64 and x86_64
# against the macOS SDK headers with the project's warnings as errors, links each
# architecture into a Mach-O executable with ld64.lld, and fails when the linked
# file still needs a symbol that the project (namespace qm) or BLAKE3 must
# define: a macOS function that is declared but not written shows up here.
# System symbols (libc++, libSystem, ICU, CoreFoundation) are left to the loader.
# Then compiles the platform-neutral unit tests for both targets.
#
# Usage: scripts/macos_check.sh [SDK_DIR [BUILD_DIR]]
# (defaults: ../shared/macos-sdk and build-macos, from the repository root).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

sdk_source=${1:-${QM_MACOS_SDK:-../shared/macos-sdk}}
out=${2:-build-macos}
if [[ ! -d "$sdk_source/usr/include" ]]; then
  echo "macOS check skipped: no macOS SDK at $sdk_source"
  exit 0
fi
jobs=${QM_JOBS:-2}

tool() {  # the first of the names found on PATH
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null; then
      echo "$name"
      return
    fi
  done
  echo "macOS check: none of $* found (scripts/install-deps.sh installs them)" >&2
  exit 1
}
cxx=$(tool clang++ clang++-14)
cc=$(tool clang clang-14)
ld64=$(tool ld64.lld ld64.lld-14)
nm=$(tool llvm-nm llvm-nm-14)
cxxfilt=$(tool llvm-cxxfilt llvm-cxxfilt-14 c++filt)

mkdir -p "$out"
out=$(cd "$out" && pwd)

# A copy of the SDK in which files standing for symbolic links (a checkout
# without links keeps the target path as the file's text) are links again.
sdk=$out/sdk
if [[ ! -f "$sdk/.ready" ]]; then
  rm -rf "$sdk"
  cp -R "$sdk_source" "$sdk"
  chmod -R u+w "$sdk"
  # Twice: a link may point through another (Headers -> Versions/Current/Headers).
  for _ in 1 2; do
    while IFS= read -r -d '' file; do
      target=$(head -c 256 "$file")
      [[ "$target" =~ ^[A-Za-z0-9_./+-]+$ ]] || continue
      [[ -e "$(dirname "$file")/$target" ]] || continue
      ln -sfn "$target" "$file.link" && mv -T "$file.link" "$file"
    done < <(find "$sdk" -type f -size -256c -print0)
  done
  touch "$sdk/.ready"
fi

# Headers of libraries the macOS build takes from Homebrew, copied on their
# own so that no other Linux header can leak into a macOS compile.
include=$out/include
mkdir -p "$include"
for package in fast_float gtest gmock; do
  if [[ -d /usr/include/$package && ! -d $include/$package ]]; then
    cp -R "/usr/include/$package" "$include/"
  fi
done
[[ -d $include/fast_float ]] || { echo "macOS check: fast_float headers missing (libfast-float-dev)" >&2; exit 1; }

blake3=$(ls -d /usr/share/cargo/registry/blake3-*/c 2>/dev/null | sort -V | tail -n 1)
[[ -n "$blake3" && -f "$blake3/blake3.h" ]] || { echo "macOS check: BLAKE3 C sources missing (librust-blake3-dev)" >&2; exit 1; }

# The project's warnings and deployment target, as the CMake files set them.
cmake_files=(CMakeLists.txt cmake/*.cmake)
warnings=$(sed -n 's/^ *set(QM_WARNINGS \(.*\))$/\1/p' "${cmake_files[@]}" | head -n 1)
deployment=$(sed -n 's/^ *set(CMAKE_OSX_DEPLOYMENT_TARGET "\([0-9.]*\)".*/\1/p' "${cmake_files[@]}" | head -n 1)
[[ -n "$warnings" ]] || { echo "macOS check: QM_WARNINGS not found in the CMake files" >&2; exit 1; }
deployment=${deployment:-13.0}

mapfile -t sources < <(find src -name '*.cpp' ! -name '*_linux.cpp' | sort)
# The unit tests, less those whose fixtures need Linux-only calls.
linux_only=tests/linux_only_tests.txt
mapfile -t tests < <( (ls tests/support/*.cpp; find tests -name '*_test.cpp' ! -name '*_linux_test.cpp') | sort |
                     grep -vxF -f <(sed -e 's/#.*//' -e '/^ *$/d' "$linux_only"))

# One ninja file per run: parallel, and an unchanged file is not compiled twice.
# Unoptimised: clang's warnings do not depend on the optimisation level, and
# nothing inlined away can hide a call to a function that is missing.
ninja_file=$out/build.ninja
{
  echo "cxx_common = -std=c++20 -stdlib=libc++ -isysroot $sdk -I$root/src -isystem $include -isystem $blake3 $warnings -Werror -O0"
  echo "rule cxx"
  echo "  command = $cxx \$target_flags \$cxx_common \$extra -MD -MF \$out.d -c \$in -o \$out"
  echo "  deps = gcc"
  echo "  depfile = \$out.d"
  echo "  description = \$arch \$in"
  echo "rule cc"
  echo "  command = $cc \$target_flags -isysroot $sdk -O0 \$extra -MD -MF \$out.d -c \$in -o \$out"
  echo "  deps = gcc"
  echo "  depfile = \$out.d"
  echo "  description = \$arch \$in"
  echo "rule link"
  echo "  command = $ld64 -arch \$arch -platform_version macos $deployment 14.2 -undefined dynamic_lookup -o \$out \$in"
  echo "  description = link \$out"
  for arch in arm64 x86_64; do
    target="-target $arch-apple-macos$deployment"
    objects=()
    for source in "${sources[@]}"; do
      object=$arch/${source%.cpp}.o
      objects+=("$object")
      echo "build $object: cxx $root/$source"
      echo "  target_flags = $target"
      echo "  arch = $arch"
    done
    blake3_sources=(blake3.c blake3_dispatch.c blake3_portable.c)
    if [[ $arch == arm64 ]]; then
      blake3_sources+=(blake3_neon.c)
      blake3_extra=-DBLAKE3_USE_NEON=1
    else
      blake3_sources+=(blake3_sse2_x86-64_unix.S blake3_sse41_x86-64_unix.S
                       blake3_avx2_x86-64_unix.S blake3_avx512_x86-64_unix.S)
      blake3_extra=
    fi
    for source in "${blake3_sources[@]}"; do
      object=$arch/blake3/${source%.*}.o
      objects+=("$object")
      echo "build $object: cc $blake3/$source"
      echo "  target_flags = $target"
      echo "  extra = $blake3_extra"
      echo "  arch = $arch"
    done
    echo "build $arch/quillmarsh: link ${objects[*]}"
    echo "  arch = $arch"
    for source in "${tests[@]}"; do
      echo "build $arch/${source%.cpp}.o: cxx $root/$source"
      echo "  target_flags = $target"
      echo "  extra = -I$root/tests -DQM_SOURCE_DIR=\\\"$root\\\" -DQM_ENGINE_BINARY=\\\"quillmarsh\\\""
      echo "  arch = $arch"
    done
  done
} >"$ninja_file"

echo "=== macOS build check: ${#sources[@]} sources, ${#tests[@]} tests, BLAKE3 from $blake3, macOS $deployment"
ninja -C "$out" -j "$jobs" -k 0 ${QM_VERBOSE:+-v}

# A symbol the project or BLAKE3 must define: anything in namespace qm (functions,
# vtables, type info, guard variables, statics inside its functions) or blake3_*.
project_symbol='^_(_Z(T[VIST]|GV|Th[n0-9]+_|Tv[n0-9_]+)?Z?N[rVKRO]*2qm|blake3_)'
failed=0
for arch in arm64 x86_64; do
  binary=$out/$arch/quillmarsh
  missing=$("$nm" --undefined-only --just-symbol-name "$binary" | grep -E "$project_symbol" || true)
  if [[ -n "$missing" ]]; then
    echo "macOS $arch: symbols the project must define are missing:"
    "$cxxfilt" -_ <<<"$missing" | sed 's/^/  /'
    failed=1
  else
    undefined=$("$nm" --undefined-only "$binary" | wc -l)
    echo "macOS $arch: linked $(basename "$binary") ($undefined system symbols left to the loader)"
  fi
done
if ((failed)); then
  exit 1
fi
echo "macOS build check passed"
