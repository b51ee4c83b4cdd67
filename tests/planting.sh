#!/bin/sh
# Libraries planted beside the programs and in the folder they run in, under
# the platform's and the add-on's names: none of their code runs, the
# simulator in the system folder answers, the add-on only looks present.
#   tests/planting.sh PREFIX WINE_RUN PLANTED_DLL PROGRAMS...
set -eu
prefix="$1" wine_run="$2" planted="$3"; shift 3
folder="$(pwd)/planted-run"
rm -rf "$folder"; mkdir -p "$folder"; cp "$@" "$folder/"
for name in WFAPI.DLL WTSAPI32.DLL WINSTA.DLL; do cp "$planted" "$folder/$name"; done
cd "$folder"; export VELQUOR_PLANTED_MARK="$folder/ran"
run() { program="$1"; shift; "$wine_run" "$prefix" "$folder/$program" "$@" | tr -d '\r' | tr '\n\t' ' '; }
got="$(run zelhost.exe wtsiscitrixenabled 0)|$(run zelhost.exe wtsiscitrixenabled 1)|$(run velquor.exe sessions --format csv)"
want="1 |0 |server,session,name,state,error,message,code ,0,Console,ACTIVE,,, ,1,RDP-Tcp#7,DISCONNECTED,,, ,2,RDP-Tcp#8,ACTIVE,,, "
[ "$got" = "$want" ] || { echo "planting: got [$got], expected [$want]"; exit 1; }
[ ! -e ran ] || { echo "planting: the planted code ran"; exit 1; }
echo "planting: nothing planted ran"
