# Creates the private Wine prefix the tests run in (needs WINEPREFIX); the
# arguments are the Windows versions the tests emulate.
set -e
rm -rf "$WINEPREFIX"
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null
# One import for every setting: each Wine program started costs seconds
# where Wine runs emulated. No debugger on a crash; each emulated test
# program, named after the version it runs as, gets that version.
reg="$WINEPREFIX/settings.reg"
{
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]\n"Debugger"=""\n'
  for v in "$@"; do
    for program in t_platform t_query; do
      printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s_%s.exe]\n"Version"="%s"\n' "$program" "$v" "$v"
    done
  done
} > "$reg"
wine regedit /S "Z:$(echo "$reg" | tr / '\\')"
wineserver -k || true
