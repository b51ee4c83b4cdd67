#!/usr/bin/env python3
"""The simulator's call log (VELQUOR_SIM_LOG) as the calls that reach a
server: every entry point's line but the opens, closes and releases of
memory, which stay in the caller's process (on Vista and later an open
only makes a handle), and but the lines that tell what a wait returned.

    tools/simcalls.py LOG [SERVERS]   # the count, or the count per server
"""
import os
import sys

LOCAL = ("WTSOpenServer", "WTSCloseServer", "WTSFreeMemory")


def platform_calls(log):
    """The entry point of each call in LOG that reaches a server, in order (none without a log)."""
    if not os.path.exists(log):
        return []
    with open(log, encoding="utf-8") as lines:
        return [line.split()[0] for line in lines
                if line.startswith(("WTS", "WinStation")) and " -> " not in line and not line.startswith(LOCAL)]


if __name__ == "__main__":
    calls = len(platform_calls(sys.argv[1]))
    print(calls / int(sys.argv[2]) if len(sys.argv) > 2 else calls)
