# Creates the private Wine prefix the tests run in (needs WINEPREFIX); the
# arguments are the Windows versions the tests emulate.
set -e
rm -rf "$WINEPREFIX"
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f >/dev/null
# Per-program Windows versions: each emulated test program is named after the version it runs as.
for v in "$@"; do
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\t_platform_$v.exe" /v Version /t REG_SZ /d $v /f >/dev/null
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\t_query_$v.exe" /v Version /t REG_SZ /d $v /f >/dev/null
done
wineserver -k || true
