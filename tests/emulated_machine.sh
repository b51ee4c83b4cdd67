#!/bin/sh
# The emulated machine's plumbing: a Wine program runs inside it, in a copy
# of the prefix (the running tests' server owns the original), and its
# output, its error output and the command's exit status come back apart.
#   tests/emulated_machine.sh PREFIX VM32 WINE-RUN ZELHOST
rm -rf vm-prefix vm-out vm-err && cp -a "$1" vm-prefix || exit 1
WINEPATH="Z:$(dirname "$1" | tr / '\\')\\bin" && export WINEPATH
"$2" -- sh -c '"$1" "$PWD/vm-prefix" "$2" wtsversion 2; echo "zelhost: $?" >&2; exit 7' \
  sh "$3" "$4" > vm-out 2> vm-err
echo "vm32: $?"
tr -d '\r' < vm-out; cat vm-err
rm -rf vm-prefix vm-out vm-err
