#!/usr/bin/env bash
# Installs what is missing from Debian's packages, builds the native,
# sanitizer and both Windows targets, and runs the whole suite on each
# (the Windows builds under Wine, each in a fresh private prefix). Exits
# non-zero when anything fails.
set -uo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ googletest mingw-w64 g++-mingw-w64-x86-64-posix
          g++-mingw-w64-i686-posix wine wine64 wine32:i386 socat ser2net python3-serial
          pkgconf clang-14 libclang-rt-14-dev clang-format-14)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "== installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  install=("${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q
           --no-install-recommends)
  "${sudo_cmd[@]}" apt-get update -q
  if ! "${install[@]}" "${missing[@]}"; then
    # While a mirror syncs, one architecture's index of the security updates
    # can fail to load; the 32-bit libraries then cannot match the 64-bit
    # ones that came from it. The release's own versions match on both.
    echo "== installing again, from the release's own versions"
    "${sudo_cmd[@]}" apt-get update -q
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    "${install[@]}" -t "$release" "${missing[@]}" || exit 1
  fi
fi

presets=(${TARN_PRESETS:-native asan tsan win64 win32})
failed_presets=()
not_run=()
total_passed=0
total_failed=0
logdir=build/logs
mkdir -p "$logdir"

# --- Format ------------------------------------------------------------------
# Every source follows .clang-format, with the clang-format installed above.
# It counts as one test.
echo "== format: clang-format --dry-run -Werror"
if git ls-files -- src tools tests bench fuzz | grep -E '\.(c|cc|cpp|h|hpp)$' |
     xargs clang-format-14 --dry-run -Werror >"$logdir/format.log" 2>&1; then
  echo "[format] passed"
  total_passed=$((total_passed + 1))
else
  grep -E 'error:' "$logdir/format.log" | head -n 20
  echo "[format] failed: run clang-format-14 -i on the files above"
  failed_presets+=("format")
  total_failed=$((total_failed + 1))
fi

for preset in "${presets[@]}"; do
  echo "== $preset: configure and build"
  if ! cmake --preset "$preset" >"$logdir/$preset-configure.log" 2>&1; then
    cat "$logdir/$preset-configure.log"
    failed_presets+=("$preset(configure)")
    continue
  fi
  if ! cmake --build "build/$preset" -j2 >"$logdir/$preset-build.log" 2>&1; then
    tail -n 60 "$logdir/$preset-build.log"
    failed_presets+=("$preset(build)")
    continue
  fi
  case "$preset" in
    win32|win64) rm -rf "build/$preset/wineprefix" ;;  # every run starts afresh
  esac
  # Some virtual machines' kernels do not run 32-bit x86 programs, and so
  # not Wine's 32-bit loader: there the 32-bit build is only built. Its
  # tests are told as not run, counted neither way.
  if [ "$preset" = win32 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "[win32] tests not run, and not counted: this machine does not run 32-bit x86 programs (its kernel refuses Wine's 32-bit loader); the build above passed"
    not_run+=("win32(test)")
    continue
  fi
  echo "== $preset: test"
  runner=()
  # ThreadSanitizer cannot map its shadow memory with the address-space
  # randomisation of recent kernels; run that suite without it.
  [ "$preset" = tsan ] && runner=(setarch "$(uname -m)" -R)
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  "${runner[@]}" ctest --test-dir "build/$preset" --output-on-failure -V \
    >"$logdir/$preset-test.log" 2>&1
  status=$?
  passed=$(awk '/\[  PASSED  \] [0-9]+ test/ { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+$/) { n += $i; break } }
                END { print n + 0 }' "$logdir/$preset-test.log")
  failed=$(awk '/\[  FAILED  \] [0-9]+ test/ { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+$/) { n += $i; break } }
                END { print n + 0 }' "$logdir/$preset-test.log")
  total_passed=$((total_passed + ${passed:-0}))
  total_failed=$((total_failed + ${failed:-0}))
  grep -E '(\[  FAILED  \]|\[  PASSED  \]|tests passed|WARNING: ThreadSanitizer|ERROR: AddressSanitizer|runtime error:)' \
    "$logdir/$preset-test.log" | sed "s/^/[$preset] /" | head -n 40
  if [ $status -ne 0 ]; then
    tail -n 80 "$logdir/$preset-test.log"
    failed_presets+=("$preset(test)")
  fi

  # --- Installed package (native only) -----------------------------------
  # Installs the build and builds and runs a program against the installed
  # tree, through find_package and through pkg-config (tests/install/run.sh).
  # It counts as one test.
  if [ "$preset" = native ]; then
    echo "== $preset: install, and build a program against the installed package"
    if tests/install/run.sh "build/$preset" >"$logdir/$preset-install.log" 2>&1; then
      echo "[$preset] installed package: passed"
      total_passed=$((total_passed + 1))
    else
      tail -n 60 "$logdir/$preset-install.log"
      failed_presets+=("$preset(install)")
      total_failed=$((total_failed + 1))
    fi
  fi
done

# --- Fuzzing ---------------------------------------------------------------
# Builds the libFuzzer targets with clang and runs each briefly on its seed
# corpus (scripts/fuzz.sh). It counts as one test; when clang or its libFuzzer
# runtime is missing, or TARN_FUZZ=0, it is skipped and counts as neither.
echo "== fuzz: build the fuzz targets and run each briefly"
if [ "${TARN_FUZZ:-1}" = 0 ]; then
  echo "[fuzz] skipped, not counted: TARN_FUZZ=0"
elif ! why=$(bash scripts/fuzz.sh --check); then
  echo "[fuzz] skipped, not counted: ${why#fuzz: }"
elif bash scripts/fuzz.sh >"$logdir/fuzz.log" 2>&1; then
  grep '^\[fuzz\]' "$logdir/fuzz.log"
  echo "[fuzz] passed"
  total_passed=$((total_passed + 1))
else
  tail -n 60 "$logdir/fuzz.log"
  failed_presets+=("fuzz")
  total_failed=$((total_failed + 1))
fi

echo
if ((${#not_run[@]})); then
  echo "not run on this machine: ${not_run[*]}"
fi
if ((${#failed_presets[@]})); then
  echo "failed: ${failed_presets[*]}"
  # The names again at the very end, where a shortened log still shows them.
  for log in "$logdir"/*-test.log; do
    [ -e "$log" ] || continue
    grep -hE '^(\[  FAILED  \] [^0-9]|.*ERROR: (Address|Thread)Sanitizer|.*runtime error:)' "$log" |
      sort -u | head -n 10 | sed "s|^|[$(basename "$log" -test.log)] |"
  done
  [ "$total_failed" -gt 0 ] || total_failed=${#failed_presets[@]}
  echo "tests: $total_passed passed, $total_failed failed"
  exit 1
fi
echo "tests: $total_passed passed, 0 failed"
