#!/bin/sh
# Libraries planted beside a program and in the folder it runs in, named as
# the platform's and the add-on's libraries: none of their code runs, the
# simulator in the system folder still answers, and the add-on merely looks
# present.   tests/planting.sh PREFIX WINE_RUN PLANTED_DLL PROGRAMS...
set -eu
prefix="$1" wine_run="$2" planted="$3"; shift 3
folder="$(pwd)/planted-run"
rm -rf "$folder"; mkdir -p "$folder"
cp "$@" "$folder/"
for name in WFAPI.DLL APSDK.DLL WTSAPI32.DLL WINSTA.DLL; do cp "$planted" "$folder/$name"; done
cd "$folder"
export VELQUOR_PLANTED_MARK="$folder/ran.txt"
run() { program="$1"; shift; "$wine_run" "$prefix" "$folder/$program" "$@" | tr -d '\r'; }
check() { [ "$1" = "$2" ] || { echo "planting: $3: got [$1], expected [$2]"; exit 1; }; }
check "$(run zelhost.exe wtsiscitrixenabled 0)" 1 "the add-on looks present"
check "$(run zelhost.exe wtsiscitrixenabled 2)" 0 "CTXSMCAPI.DLL was not planted"
check "$(run zelhost.exe wtsenumsessions "" | sed -n 3p)" "[ 2] SessionNames         string Console	RDP-Tcp#7" \
  "the simulator answers"
check "$(run velquor.exe sessions --format csv | sed -n 2p)" ",0,Console,ACTIVE,,," "velquor.exe answers"
[ ! -e ran.txt ] || { echo "planting: the planted code ran: $(cat ran.txt)"; exit 1; }
echo "planting: nothing planted ran"
