# Starts one persistent wineserver for the whole test run and boots the session
# with its stdio on /dev/null, so no service inherits a test's output pipe.
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
exit 0
