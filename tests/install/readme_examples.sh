#!/usr/bin/env bash
# Writes the README's C++ examples out as one program, so that the
# installed-package test builds and runs them as they stand:
#
#   tests/install/readme_examples.sh README.md out.cpp
#
# Each ```cpp block becomes a scope nested in the one before it, so that a
# later example goes on with the port an earlier one made (the drain after
# the first send) and may still declare names of its own. Its #include lines
# go to the top of the file. The names that the examples take as given are
# set up first: virtual ports under the names they open (a virtual port
# takes precedence over a system's port of the same name), a loop condition
# that holds for a few rounds, the last block of a send, and a null owner.
# After the examples the program checks that the first one's request reached
# its port and that the port found by its USB ids was opened.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 README.md out.cpp" >&2; exit 2; }

awk '
  /^```cpp$/ { inside = 1; examples++; next }
  /^```/     { inside = 0; next }
  inside && /^#include/ { if (!seen[$0]++) includes = includes $0 "\n"; next }
  inside     { body[examples] = body[examples] ($0 == "" ? "" : "        " $0) "\n" }
  END {
    if (examples == 0) { print "readme_examples.sh: no ```cpp block found" > "/dev/stderr"; exit 1 }
    printf "// Written from README.md by tests/install/readme_examples.sh; do not edit.\n"
    printf "%s", includes
    print "#include <cstdio>"
    print "#include \"virtual_port.h\""
    print ""
    print "namespace {"
    print "// A loop condition that holds for a few rounds, then starts again for"
    print "// the next loop."
    print "struct Rounds {"
    print "    int left = 20;"
    print "    explicit operator bool() {"
    print "        if (left-- > 0) return true;"
    print "        left = 20;"
    print "        return false;"
    print "    }"
    print "};"
    print "}  // namespace"
    print ""
    print "int main() {"
    print "    tarn::driver::VirtualPort com3(\"COM3\");"
    print "    tarn::driver::VirtualPort adapter(\"TTYUSB9\", {\"FT232R USB UART\", \"0403\", \"6001\", \"A600ABCD\", \"FTDI\", \"FT232R USB UART\"});"
    print "    Rounds running;"
    print "    const std::string lastBlock = \"BYE\\r\\n\";"
    print "    tarn::host::TComponent* owner = nullptr;"
    print "    (void)owner;"
    for (i = 1; i <= examples; i++) printf "    {  // example %d\n%s", i, body[i]
    for (i = 1; i <= examples; i++) printf "    }\n"
    print "    const std::string written = com3.TakeWritten();"
    print "    if (written.find(\"*IDN?\") == std::string::npos || written.find(lastBlock) == std::string::npos) {"
    print "        std::fprintf(stderr, \"the examples did not send to COM3 as they say: \\x27%s\\x27\\n\", written.c_str());"
    print "        return 1;"
    print "    }"
    print "    if (adapter.OpenCount() != 1) {"
    print "        std::fprintf(stderr, \"the port found by its USB ids was not opened\\n\");"
    print "        return 1;"
    print "    }"
    print "    std::puts(\"the README examples ran\");"
    print "    return 0;"
    print "}"
  }' "$1" >"$2"
