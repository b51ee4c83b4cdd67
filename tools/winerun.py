"""Starting a Windows program under Wine for a test, through cmake/wine-run.sh.

Now and then, with the machine loaded, Wine fails to create the process and
its launcher prints its own complaint instead; the program never ran, so
nothing of it is under test. Such a start is tried again, at most twice;
every other outcome, failures of the program included, is returned as it is.
"""
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_COULD_NOT_START = b"Application could not be started"
TRIES = 3


def run_in_prefix(prefix, program, args, **kwargs):
    """subprocess.run of PROGRAM ARGS in the Wine prefix, output captured."""
    command = [os.path.join(ROOT, "cmake", "wine-run.sh"), prefix, program] + list(args)
    for _ in range(TRIES):
        done = subprocess.run(command, capture_output=True, **kwargs)
        if not done.stdout.startswith(WINE_COULD_NOT_START):
            break
    return done
