#!/usr/bin/env bash
# Installs the package from a native build and builds a program against the
# installed tree, once through find_package and once through pkg-config, then
# runs both; then builds the README's C++ examples against it and runs them
# (readme_examples.sh). Exits non-zero when any step fails.
#
#   tests/install/run.sh build/native
#
# The package goes to <build>/install-root, the programs to
# <build>/install-consumer; both are made afresh on every run.
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 <native build folder>" >&2; exit 2; }
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$build/install-root
consumer=$build/install-consumer
rm -rf "$root" "$consumer"

echo "-- installing into $root"
cmake --install "$build" --prefix "$root"

echo "-- the installed tarnterm runs from its prefix"
if [ -x "$root/bin/tarnterm" ]; then
  "$root/bin/tarnterm" --help >/dev/null
fi

echo "-- each installed header compiles on its own"
# A header that needs one that was not installed fails here, by name.
for header in "$root"/include/TarnSerialPort/*.h; do
    echo "#include \"$(basename "$header")\"" |
        c++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only -x c++ \
            -I"$root/include/TarnSerialPort" - ||
        { echo "$0: $(basename "$header") does not compile on its own" >&2; exit 1; }
done

echo "-- building against the installed package with find_package"
# Only the installed tree may satisfy find_package, not the build tree or
# the user's package registry.
mkdir -p "$consumer"
"$here/readme_examples.sh" "$here/../../README.md" "$consumer/readme_examples.cpp"
cmake -S "$here" -B "$consumer/cmake" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARN_README_EXAMPLES="$consumer/readme_examples.cpp" \
    -DCMAKE_PREFIX_PATH="$root" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
cmake --build "$consumer/cmake" -j2
"$consumer/cmake/tarn_install_check"

echo "-- the README's examples, built against the installed package and run"
# In the consumer's folder: the examples write files (a recording).
(cd "$consumer" && "$consumer/cmake/tarn_readme_examples")

echo "-- building against the installed package with pkg-config"
pc_file=$(find "$root" -name tarnserialport.pc -print -quit)
[ -n "$pc_file" ] || { echo "$0: tarnserialport.pc was not installed" >&2; exit 1; }
export PKG_CONFIG_PATH=$(dirname "$pc_file")
read -r -a flags <<<"$(pkg-config --cflags --libs tarnserialport)"
libdir=$(pkg-config --variable=libdir tarnserialport)
mkdir -p "$consumer/pkg-config"
c++ -std=c++17 -Wall -Wextra -Werror "$here/main.cpp" "${flags[@]}" \
    -Wl,-rpath,"$libdir" -o "$consumer/pkg-config/tarn_install_check"
"$consumer/pkg-config/tarn_install_check"
