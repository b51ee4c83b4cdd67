#!/usr/bin/env python3
"""velquor.exe under Wine against the simulator: every command in every
format, JSON parsed and compared field by field with what the script
functions return (through zelhost) for the same scenario, CSV read back,
a farm with failing servers, usage errors.

    tests/cli_test.py BUILD
"""
import configparser
import csv
import io
import json
import os
import signal
import subprocess
import sys
import time
import unicodedata
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from simcalls import platform_calls  # noqa: E402
from winerun import run_in_prefix  # noqa: E402
BUILD = os.path.abspath(sys.argv[1])
failures = []


def is_x64(path):
    """Whether a Windows program is of the 64-bit build (its PE header's machine is x86-64)."""
    data = open(path, "rb").read(4096)
    at = int.from_bytes(data[0x3C:0x40], "little")
    return int.from_bytes(data[at + 4:at + 6], "little") == 0x8664


X64 = is_x64(os.path.join(BUILD, "test", "velquor.exe"))


def scenario_path(scenario):
    """tests/scenarios/NAME, or a path of its own (examples/office.ini)."""
    return scenario if os.path.isabs(scenario) else os.path.join(ROOT, "tests", "scenarios", scenario)


def run(program, args, scenario="cli.ini", log=None, stdin=None, extra=None):
    # Wine reads the arguments in the Unix locale's character set: UTF-8.
    env = dict(os.environ, WINEDLLOVERRIDES="wtsapi32,winsta,netapi32=n", LC_ALL="C.UTF-8",
               VELQUOR_SCENARIO="Z:" + scenario_path(scenario), **(extra or {}))
    env.pop("VELQUOR_SIM_LOG", None)
    if log:
        env["VELQUOR_SIM_LOG"] = log
        if os.path.exists(log):
            os.remove(log)
    done = run_in_prefix(os.path.join(BUILD, "wineprefix"), os.path.join(BUILD, "test", program), args,
                         cwd=os.path.join(BUILD, "test"), env=env, input=stdin)
    return done.returncode, done.stdout, done.stderr.decode("cp1252", "replace")


def velquor(*args, scenario="cli.ini", log=None, program="velquor.exe", stdin=None, extra=None):
    return run(program, list(args), scenario, log, stdin, extra)


# The tool as built for the tests of kill on a selection: it looks accounts
# up in the simulated platform, which knows a scenario's [accounts].
ACCOUNTS = "velquor-accounts.exe"


def velquor_all(argument_lists, scenario="cli.ini", logs=None, program="velquor.exe"):
    """velquor() for many argument lists at once (each a program of its own, with its `logs` entry), in order."""
    with ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        return list(pool.map(lambda run: velquor(*run[0], scenario=scenario, log=run[1], program=program),
                             zip(argument_lists, logs or [None] * len(argument_lists))))


def check(condition, what):
    if not condition:
        failures.append(what)


def zelhost_array(function, *args, scenario="cli.ini"):
    """A script function's array through zelhost: element name to value."""
    _, out, _ = run("zelhost.exe", [function] + list(args), scenario)
    elements = {}
    for line in out.decode("cp1252").replace("\r\n", "\n").split("\n"):
        if line.startswith("["):
            name, rest = line[line.index("]") + 1:].lstrip().split(None, 1)
            kind, _, value = rest.partition(" ")
            elements[name] = int(value) if kind == "integer" else value
    return elements


def zelhost_lists(function, *args, scenario="cli.ini"):
    """The same, with the TAB-separated lists split."""
    return {k: v.split("\t") if isinstance(v, str) else v
            for k, v in zelhost_array(function, *args, scenario=scenario).items()}


def json_of(text, status, err):
    """The parsed output; where it is not JSON, the test ends saying what the program printed and its status."""
    try:
        return json.loads(text)
    except ValueError:
        sys.exit("not JSON (exit status %d): %r\nstandard error: %s" % (status, text[:400], err[-2000:]))


def json_rows(*args, scenario="cli.ini"):
    status, out, err = velquor(*args, "--format", "json", scenario=scenario)
    return status, json_of(out.decode("utf-8"), status, err)


# JSON against the script functions, field by field.
status, rows = json_rows("sessions", "--server", "alpha")
z = zelhost_lists("wtsenumsessions", "alpha")
check(status == 0, "sessions: exit status %d" % status)
check([r["session"] for r in rows] == [int(i) for i in z["SessionIds"]], "session ids")
check([r["name"] for r in rows] == z["SessionNames"], "names")
check([r["state"] for r in rows] == z["SessionStates"], "states")
check(all(r["server"] == "alpha" for r in rows) and len(rows) == z["Count"], "server and count")
check("Sales, East" in [r["name"] for r in rows] and 'Say "hi"' in [r["name"] for r in rows], "names kept whole")

status, rows = json_rows("processes", "--server", "alpha")
z = zelhost_lists("wtsenumprocesses", "alpha")
check([(r["pid"], r["name"], r["session"], r["sid"]) for r in rows] ==
      [(int(p), n, int(s), sid) for p, n, s, sid in zip(z["ProcessIds"], z["ProcessNames"], z["SessionIds"], z["UserSids"])],
      "processes field by field: %s" % rows)
check("café.exe" in [r["name"] for r in rows], "non-ASCII converted to UTF-8")

status, rows = json_rows("session", "2", "--server", "alpha")
info = zelhost_array("wtsquerysessioninfo", "alpha", "2")
r = rows[0]
pairs = {"name": "WinStationName", "state": "ConnectState", "user": "UserName", "domain": "DomainName",
         "client": "ClientName", "address": "ClientAddress", "protocol": "ClientProtocolType",
         "client_build": "ClientBuildNumber", "width": "HorizontalResolution", "height": "VerticalResolution",
         "color_depth": "ColorDepth", "client_product_id": "ClientProductId", "application": "ApplicationName"}
for field, element in pairs.items():
    check(r[field] == info[element], "session %s: %r against %r" % (field, r[field], info[element]))
for field, element in {"logon_time": "LogonTime", "current_time": "CurrentTime", "connect_time": "ConnectTime",
                       "last_input_time": "LastInputTime", "disconnect_time": "DisconnectTime"}.items():
    raw = info[element]
    iso = "" if not raw else "%s-%s-%sT%s:%s:%sZ" % tuple(raw.split(":"))
    check(r[field] == iso, "session %s: %r against %r" % (field, r[field], iso))
check(r["idle_seconds"] == 120 and r["user"] == "béatrice", "idle seconds and user: %s" % r)

# CSV read back, with commas, quotes and non-ASCII in fields.
status, out, _ = velquor("sessions", "--server", "alpha", "--format", "csv")
table = list(csv.DictReader(io.StringIO(out.decode("utf-8"), newline="")))
check([t["name"] for t in table] == ["Console", "Sales, East", 'Say "hi"'], "csv names: %s" % table)
check(out.count(b"\r\n") == len(table) + 1, "csv lines end in CRLF")
status, out, _ = velquor("processes", "--server", "alpha", "--format", "csv")
table = list(csv.DictReader(io.StringIO(out.decode("utf-8"), newline="")))
check([t["name"] for t in table][:3] == ["System", "café.exe", "a,b.exe"] and table[2]["sid"] == "", "csv processes")

# Every command in every format.
commands = [["sessions"], ["sessions", "--extended"], ["processes", "--session", "2"], ["session"],
            ["session", "3"], ["console"], ["whoami"], ["disconnect", "3", "--wait"], ["logoff", "3"],
            ["kill", "1300", "--exit-code", "4"], ["msg", "2", "Title", "Text, with a comma", "--style", "64",
                                                   "--timeout", "30", "--wait"],
            ["wait", "32"], ["shutdown", "1"]]
runs = [(command, form) for command in commands for form in ("table", "csv", "json")]
results = velquor_all([command + ([] if command in (["console"], ["whoami"], ["session"]) else ["--server", "alpha"]) +
                       ["--format", form] for command, form in runs])
for (command, form), (status, out, err) in zip(runs, results):
    text = out.decode("utf-8")  # the table too, when it goes to a file or a pipe
    check(status == 0, "%s as %s: exit %d %s" % (command, form, status, err))
    if form == "json":
        parsed = json.loads(text)
        check(isinstance(parsed, list) and len(parsed) >= 1 and all("server" in p for p in parsed),
              "%s json: %s" % (command, text))
    elif form == "csv":
        parsed = list(csv.reader(io.StringIO(text, newline="")))
        check(len(parsed) >= 2 and parsed[0][0] == "server" and parsed[0][-3:] == ["error", "message", "code"],
              "%s csv: %s" % (command, text))
    else:
        check(text.split("\r\n")[0].split()[0] == "server", "%s table: %s" % (command, text))
status, rows = json_rows("msg", "2", "T", "M", "--server", "alpha", "--wait")
check(rows[0]["result"] == 6, "msg answers the response")

# A farm: two servers answer, one refuses, one cannot be opened.
forms = ("json", "csv", "table")
farm = ["sessions", "--server", "alpha,broken", "--server", "nowhere", "--server", "beta", "--parallel", "3"]
for form, (status, out, err) in zip(forms, velquor_all([farm + ["--format", form] for form in forms])):
    text = out.decode("utf-8")
    check(status == 3, "farm exit status %d" % status)
    if form == "json":
        rows = json_of(text, status, err)
        errors = [r for r in rows if "error" in r]
        check([r["server"] for r in rows if "error" not in r] == ["alpha"] * 3 + ["beta"] * 3, "farm order")
        check([(e["server"], e["error"], e["code"]) for e in errors] == [("broken", 106, 1722), ("nowhere", 103, 1722)],
              "farm errors: %s" % errors)
        check(errors[0]["message"].startswith("106: Velquor: "), "error text")
    elif form == "csv":
        rows = list(csv.DictReader(io.StringIO(text, newline="")))
        check([(r["server"], r["error"]) for r in rows if r["error"]] == [("broken", "106"), ("nowhere", "103")],
              "farm csv errors")
    else:
        check("broken: 106: Velquor: " in err and "nowhere: 103: Velquor: " in err and "0x6BA" in err and
              "Velquor" not in text, "farm table errors on standard error: %s" % err)

# Every name of a scenario whole, in every format: names in several scripts
# (tests/scenarios/names.ini, on servers named in Greek and Japanese) and
# the office example. The expected values are read from the scenario file.
def scenario_sections(path, kind):
    parser = configparser.ConfigParser(strict=False, interpolation=None)
    parser.read(path, encoding="utf-8")
    return {int(name.split()[1]): parser[name] for name in parser.sections() if name.startswith(kind + " ")}


def parsed_rows(form, text):
    """The rows as dictionaries of texts; the table's only as its text."""
    if form == "json":
        return [{k: "" if v is None else str(v) for k, v in row.items()} for row in json.loads(text)]
    if form == "csv":
        return list(csv.DictReader(io.StringIO(text, newline="")))
    return text


for scenario, server in (("names.ini", "東京"), ("names.ini", "Ελλάδα-TS"),
                         (os.path.join(ROOT, "examples", "office.ini"), "TS-OFFICE")):
    sessions = scenario_sections(scenario_path(scenario), "session")
    processes = scenario_sections(scenario_path(scenario), "process")
    named = {"name": "name", "user": "info.5", "domain": "info.7", "client": "info.10"}
    asks = [(["sessions"], [(str(i), s["name"]) for i, s in sessions.items()], ("session", "name")),
            (["processes"], [(str(i), p["name"]) for i, p in processes.items()], ("pid", "name"))]
    asks += [(["session", str(i)], [tuple(s.get(key, "") for key in named.values())], tuple(named))
             for i, s in sessions.items() if i < 65536]
    runs = [(args, want, fields, form) for args, want, fields in asks for form in ("json", "csv", "table")]
    results = velquor_all([args + ["--server", server, "--format", form] for args, _, _, form in runs], scenario)
    for (args, want, fields, form), (status, out, err) in zip(runs, results):
        rows = parsed_rows(form, out.decode("utf-8"))
        what = "%s %s on %s as %s" % (" ".join(args), scenario, server, form)
        if form == "table":
            check(status == 0 and all(value in rows for row in want for value in row), "%s: %s" % (what, rows))
            # The last column (never empty in these lists) starts at one
            # screen column on every line, East Asian wide characters taking two.
            starts = {sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line[:line.rindex("  ")])
                      for line in rows.split("\r\n")[:-1]}
            check(args[0] == "session" or len(starts) == 1, "%s: columns not aligned: %s" % (what, rows))
        else:
            check(status == 0 and [tuple(r[f] for f in fields) for r in rows] == want and
                  all(r["server"] == server for r in rows), "%s: %s" % (what, rows))

# One server that fails, or every one: 1, the number in the output.
for servers in ("nowhere", "nowhere,broken"):
    status, out, _ = velquor("sessions", "--server", servers, "--format", "json")
    check(status == 1 and json.loads(out)[0]["error"] == 103, "every server failed: status %d" % status)

# Ids: decimal digits only, 0 to 4294967294, "current" for the caller's own
# session (on this computer only); anything else is a usage error that names
# the argument. JSON echoes the parsed number; an unknown id is refused (7022, 87).
ids = [(["logoff", "010"], 2), (["logoff", "0x10"], 2), (["logoff", "-1"], 2), (["logoff", "+5"], 2),
       (["logoff", "4294967295"], 2), (["logoff", "4294967296"], 2), (["logoff", ""], 2), (["logoff", " 5"], 2),
       (["logoff", "5 "], 2), (["session", "0x1F"], 2), (["kill", "current"], 2), (["kill", "1e3"], 2),
       (["wait", "0x123456789"], 2), (["msg", "07", "T", "M"], 2), (["logoff", "current"], 2), (["session"], 2),
       (["session", "current"], 2), (["logoff", "4294967294"], 7022), (["logoff", "0"], 7022), (["kill", "16"], 87), (["session", "99"], 7022),
       (["logoff", "2"], 0), (["kill", "1300"], 0), (["wait", "0x20"], 0)]
results = velquor_all([args + ["--server", "alpha", "--format", "json"] for args, _ in ids])
for (args, want), (status, out, err) in zip(ids, results):
    check(status == min(want, 2) if want < 3 else status == 1 and json.loads(out)[0]["code"] == want,
          "%s: status %d %s, not %d" % (args, status, out, want))
    if want == 2:
        check(repr(args[-1])[1:-1] in err and "usage:" in err, "%s names the argument: %s" % (args, err))
    elif want == 0:
        target = json.loads(out)[0]["target"]
        check(target == int(args[1], 0), "%s echoes %r" % (args, target))
log = os.path.join(BUILD, "test", "cli_current.simlog")
velquor("logoff", "current", log=log)
check("session=4294967295" in open(log, encoding="utf-8").read(), "current is the caller's own session")

# Exit statuses and limits: 2 for --server where only this computer is
# asked; more than a thousand servers from a file, all answered.
status, _, err = velquor("console", "--server", "alpha")
check(status == 2 and "--server" in err, "console --server: %d %s" % (status, err))
# @FILE: lines of any length, CR LF, UTF-8 with a BOM or UTF-16 with one;
# a name twice, in any case, is one server; NUL bytes, UTF-16 without its
# mark and Latin-1 bytes are usage errors naming the line.
farm = "# a farm of 1,100 names" + "x" * 2000 + "\r\n\r\n" + "".join("server%03d\r\n" % i for i in range(1, 1101))
files = [("\ufeff" + farm + "alpha\r\nALPHA  # the same server again\r\n").encode("utf-8"),
         b"\xff\xfe" + "alpha\r\nbeta\r\n".encode("utf-16-le"), "alpha\nbeta\n".encode("utf-16-le"),
         b"alpha\nbe\0ta\n", b"alpha\ncaf\xe9\n"]
for i, data in enumerate(files):
    with open(os.path.join(BUILD, "test", "cli_farm%d.txt" % i), "wb") as f:
        f.write(data)
results = velquor_all([["sessions", "--server", "@Z:" + os.path.join(BUILD, "test", "cli_farm%d.txt" % i),
                        "--parallel", "100", "--format", "csv"] for i in range(len(files))])
for (status, out, err), want in zip(results, [(0, 3303), (0, 6), (2, "line 1 "), (2, "line 2 "), (2, "line 2 ")]):
    rows = len(list(csv.DictReader(io.StringIO(out.decode("utf-8"), newline=""))))
    check((status, rows) == want if want[0] == 0 else status == 2 and want[1] in err, "@FILE: %d %d %s" % (status, rows, err))

# users: one row per user session, field by field against the script functions.
status, rows = json_rows("users", "--server", "alpha")
check(status == 0 and [r["session"] for r in rows] == [2, 3], "users: %s" % rows)
for r in rows:
    info = zelhost_array("wtsquerysessioninfo", "alpha", str(r["session"]))
    for field, element in {"user": "UserName", "domain": "DomainName", "session_name": "WinStationName",
                           "state": "ConnectState", "client": "ClientName", "address": "ClientAddress"}.items():
        check(r[field] == info[element].encode("cp1252").decode("cp1252"), "users %s: %r against %r" %
              (field, r[field], info[element]))
check([r["idle_seconds"] for r in rows] == [120, 2520] and rows[0]["logon_time"] == "2026-12-07T08:00:00Z",
      "users idle and logon: %s" % rows)

# Selections: the user sessions every condition holds for.
selections = [(["--all"], [2, 3]), (["--user", "béatrice"], [2]), (["--user", "CORP\\béatrice"], [2]),
              (["--user", "OTHER\\béatrice"], []), (["--user", "BOB"], [3]), (["--state", "disconnected"], [3]),
              (["--state", "ACTIVE"], [2]), (["--idle-over", "30m"], [3]), (["--idle-over", "120"], [3]),
              (["--idle-over", "1m"], [2, 3]), (["--idle-over", "1h"], []), (["--session-name", 'Say "hi"'], [3]),
              (["--state", "active", "--idle-over", "1m"], [2])]
results = velquor_all([["logoff"] + sel + ["--dry-run", "--server", "alpha", "--format", "json"]
                       for sel, _ in selections])
for (sel, want), (status, out, err) in zip(selections, results):
    rows = json.loads(out)
    check(status == 0 and [r["session"] for r in rows] == want and all(r["result"] is None for r in rows),
          "selection %s: %s %s" % (sel, out, err))
# kill on a selection ends only the session user's own processes: not the
# system's, the window manager's, the font driver's, an ownerless one or
# another user's (helper.exe, anna's, in bob's session); the call log of
# the real run shows exactly the dry run's. Where the account cannot be
# looked up (the platform's own lookup knows no simulated server), a
# session's processes are left alone and its row says why.
for sel, want in ((["--user", "bob"], ["1412"]), (["--all"], ["1200", "1412"]), (["--state", "disconnected"], ["1412"])):
    logs = [None] + [os.path.join(BUILD, "test", "cli_kill_%d.simlog" % i) for i in (1, 2)]
    runs = [(ACCOUNTS, ["--dry-run"]), (ACCOUNTS, []), ("velquor.exe", [])]
    (_, dry, _), (_, real, _), (status, unknown, _) = [
        velquor(*(["kill"] + sel + ["--server", "alpha", "--format", "csv"] + d), log=log, program=p)
        for (p, d), log in zip(runs, logs)]
    pids = [r["pid"] for r in csv.DictReader(io.StringIO(dry.decode("utf-8"), newline=""))]
    ended = [[line.split()[2][8:] for line in open(log, encoding="utf-8") if line.startswith("WTSTerminateProcess")]
             for log in logs[1:]]
    errors = {r["error"] for r in csv.DictReader(io.StringIO(unknown.decode("utf-8"), newline=""))}
    check(pids == want and ended == [want, []] and errors == {"2001"} and status == 1,
          "kill %s: %s %s %s" % (sel, pids, ended, unknown))
# A process whose id went to another owner's program between the list and
# the action is read again and left alone.
log = os.path.join(BUILD, "test", "cli_pidreuse.simlog")
status, out, _ = velquor("kill", "--all", "--server", "alpha", "--format", "json", scenario="pidreuse.ini", log=log,
                         program=ACCOUNTS)
ended = [line.split()[2] for line in open(log, encoding="utf-8") if line.startswith("WTSTerminateProcess")]
check([(r["pid"], r.get("error")) for r in json.loads(out)] == [(3000, 2000), (3004, None)]
      and ended == ["process=3004"], "reused process id: %s %s" % (out, ended))
status, out, err = velquor("logoff", "--all", "--dry-run", "--format", "json", scenario="watch.ini")
check([r["session"] for r in json.loads(out)] == [2] and "left out your own session 1" in err, "own session: %s %s" % (out, err))
# A session reused by another logon between the selection and the action
# is read again and left alone.
log = os.path.join(BUILD, "test", "cli_reused.simlog")
status, out, _ = velquor("logoff", "--all", "--server", "alpha", "--format", "json", scenario="reused.ini", log=log)
acted = [line.split()[2] for line in open(log, encoding="utf-8") if line.startswith("WTSLogoffSession")]
check([(r["session"], r.get("result"), r.get("error")) for r in json.loads(out)] == [(1, 1, None), (2, None, 2000)]
      and acted == ["session=1"], "reused session: %s %s" % (out, acted))
# ... nor the tool's own process on this computer.
for server, names in (([], ["notepad.exe"]), (["--server", "alpha"], ["notepad.exe", "velquor.exe"])):
    status, out, _ = velquor("kill", "--all", "--dry-run", "--format", "json", *server, scenario="watch.ini",
                             program=ACCOUNTS)
    check(status == 0 and [r["name"] for r in json.loads(out)] == names, "own process %s: %s" % (server, out))
# A dry run of an explicit id, or of shutdown, touches nothing.
for args in (["logoff", "2"], ["shutdown", "2"]):
    log = os.path.join(BUILD, "test", "cli_dry.simlog")
    status, out, _ = velquor(*(args + ["--dry-run", "--server", "alpha", "--format", "json"]), log=log)
    check(status == 0 and json.loads(out)[0]["result"] is None and not platform_calls(log), "dry %s: %s" % (args, out))
# No control character of a name reaches a table; JSON and CSV keep it.
status, out, _ = velquor("users", "--server", "alpha")
check(b"\\x1b[2J\\x07PC-bob" in out and not any(b < 0x20 and b not in b"\r\n" for b in out), "table escapes: %r" % out)

# Names a client or user chose reach no terminal raw, and JSON and CSV read
# back to the names as the platform gives them (a surrogate without its
# pair as U+FFFD; the lists' TAB and line break as blanks).
evil, fffd = "Evil\x1b[2J\x07", "D\ufffdM"
for args, want in ((["users"], {"session_name": evil, "user": "eve root", "domain": fffd, "client": "\x9b31m\x7fcl ient"}),
                   (["session", "5"], {"name": evil, "user": "eve\nroot", "domain": fffd, "client": "\x9b31m\x7fcl\tient"}),
                   (["sessions"], {"name": evil}),
                   (["logoff", "--all", "--dry-run"], {"session_name": evil, "user": "eve root", "domain": fffd})):
    (_, table, _), (_, text, _), (_, js, _) = velquor_all([args + ["--server", "alpha", "--format", f]
                                                          for f in ("table", "csv", "json")], scenario="hostile.ini")
    rows = [json.loads(js.decode("utf-8")), list(csv.DictReader(io.StringIO(text.decode("utf-8"), newline="")))]
    raw = [c for out in (table, js) for c in out.decode("utf-8") if unicodedata.category(c) == "Cc" and c not in "\r\n"]
    check(all(len(r) == 1 and all(r[0][k] == v for k, v in want.items()) for r in rows) and not raw
          and "\\x1b[2J\\x07" in table.decode("utf-8"), "hostile names %s: %r %r %r" % (args, table, text, js))
# A server that never answers is reported within its deadline; the others
# print, and an action goes on where the deadline allows.
for args, rows in ((["users", "--timeout", "2"], 4), (["logoff", "--all", "--dry-run", "--timeout", "2"], 4)):
    status, out, _ = velquor(*(args + ["--server", "alpha,omega,beta", "--format", "json"]))
    got = json.loads(out)
    late = [r for r in got if r.get("error") == 2002]
    check(status == 3 and len(got) == rows + 1 and [r["server"] for r in late] == ["omega"]
          and late[0]["message"].endswith("no answer in 2 s"), "deadline %s: %s" % (args, out))

# An interrupt (Ctrl+C: Wine turns SIGINT into it) once the first action is
# done: no action starts after it, the done ones are printed, JSON closed,
# and the status says so.
# (64-bit Wine does not turn SIGINT into Ctrl+C for a program without a
# console: the 32-bit build proves the interrupt.)
for args, action in () if X64 else ((["logoff", "--all"], "WTSLogoffSession"), (["users"], "WTSEnumerateSessionsEx")):
    log = os.path.join(BUILD, "test", "cli_interrupt.simlog")
    if os.path.exists(log):
        os.remove(log)
    env = dict(os.environ, WINEDLLOVERRIDES="wtsapi32,winsta,netapi32=n", LC_ALL="C.UTF-8", VELQUOR_SIM_LOG=log,
               VELQUOR_SCENARIO="Z:" + scenario_path("slow.ini"))
    program = subprocess.Popen([os.path.join(ROOT, "cmake", "wine-run.sh"), os.path.join(BUILD, "wineprefix"),
                                os.path.join(BUILD, "test", "velquor.exe")] + args +
                               ["--server", "alpha,beta", "--parallel", "1", "--format", "json"],
                               cwd=os.path.join(BUILD, "test"), env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    while program.poll() is None and not (os.path.exists(log) and action in open(log, encoding="utf-8").read()):
        time.sleep(0.05)
    program.send_signal(signal.SIGINT)
    out, _ = program.communicate()
    done = sum(line.startswith(action) for line in open(log, encoding="utf-8"))
    rows = json.loads(out)
    check(program.returncode == 4 and 0 < done < 6 and (len(rows) == done if args[0] == "logoff" else done == 1),
          "interrupted %s: %d, %d done, %s" % (args, program.returncode, done, out))

# A farm of four: the dry run lists exactly the sessions the real run then
# acts on, and the simulator's call log shows nothing else was touched.
handles = {"%08x" % (0x5100 + 4 * i): name for i, name in enumerate(["alpha", "beta", "broken", "gamma", "delta"])}
four = ["logoff", "--state", "disconnected", "--server", "alpha,beta,gamma,delta", "--format", "json"]
acted = {}
for dry in (True, False):
    log = os.path.join(BUILD, "test", "cli_selection_%d.simlog" % dry)
    if os.path.exists(log):
        os.remove(log)
    status, out, _ = velquor(*(four + (["--dry-run"] if dry else [])), log=log)
    rows = json.loads(out)
    calls = [line.split() for line in open(log, encoding="utf-8") if line.startswith("WTSLogoffSession ")]
    acted[dry] = sorted((r["server"], r["session"]) for r in rows)
    check(status == 0 and len(rows) == 4 and all(r["result"] == (None if dry else 1) for r in rows),
          "farm selection (dry run %s): %s" % (dry, rows))
    check(sorted((handles[c[1].split("=")[1].lower()], int(c[2].split("=")[1])) for c in calls) == ([] if dry else acted[dry]),
          "farm selection touches exactly its rows (dry run %s): %s" % (dry, calls))
check(acted[True] == acted[False] == [(s, 3) for s in ("alpha", "beta", "delta", "gamma")], "dry run = real run")

# watch: a timeline of changes on two servers and one that opens but does
# not answer (openany: an error event, retried), as JSON lines, each event
# with the platform's flags of its wake-up; wait on a farm, ended by
# --timeout on the silent server through the platform's flush.
# A silent server watched for 5 s; wait MASK blocks until the event
# (WTS_EVENT_ALL: the first change, 0x90) in one call; an open of an
# unknown name succeeds and the first call fails.
quiet, log = (os.path.join(BUILD, "test", "cli_%s.simlog" % name) for name in ("quiet", "wait"))
watch, wait, silent, users, waited, unknown = velquor_all([
    ["watch", "--server", "alpha,beta,nowhere", "--count", "10", "--timeout", "120", "--format", "json"],
    ["wait", "128", "--server", "alpha,gamma", "--timeout", "15", "--format", "json"],
    ["watch", "--server", "gamma", "--timeout", "5", "--format", "csv"], ["users", "--server", "alpha", "--format", "json"],
    ["wait", "0x7fffffff", "--server", "beta", "--format", "json"], ["sessions", "--server", "nowhere", "--format", "json"]],
    scenario="watch.ini", logs=[None, None, quiet, None, log, None])
lines = [json.loads(line) for line in watch[1].decode("utf-8").splitlines()]
events = sorted((e["server"], e["event"], e["session"], e["user"], e["state"]) for e in lines if e["event"] != "error")
# A logoff shows the state its session was left in: none when it is gone.
want = [("anna", "disconnect", 2, "DISCONNECTED"), ("dora", "logon", 3, "ACTIVE"), ("anna", "logoff", 2, ""),
        ("dora", "logoff", 3, "ACTIVE"), ("eve", "logon", 3, "ACTIVE")]
bits = {"disconnect": 0x10, "logon": 0x20, "logoff": 0x40}
check(watch[0] == 3 and events == sorted((s, e, n, u, st) for s in ("alpha", "beta") for u, e, n, st in want) and
      all(e["flags"] & bits[e["event"]] for e in lines if e["event"] != "error"), "watch events: %s" % lines)
check(all(e["server"] == "nowhere" and (e["error"], e["code"]) == (106, 1722) for e in lines if e["event"] == "error")
      and all(len(e["time"]) == 20 and e["time"].endswith("Z") for e in lines), "watch errors and times: %s" % lines)
rows = json.loads(wait[1])
check(wait[0] == 3 and [(r["server"], r["error"] if "error" in r else r["result"]) for r in rows] ==
      [("alpha", 128), ("gamma", 117)] and rows[1]["code"] == 1460, "wait on a farm: %d %s" % (wait[0], rows))
calls = platform_calls(quiet)
check(silent[0] == 0 and silent[1].decode().split("\r\n")[0].startswith("time,server,event") and len(calls) < 10,
      "watch on a silent server for 5 s: %d %s %s" % (silent[0], silent[1], calls))
# A TAB in a name keeps every list one item per entry, in scripts and velquor.exe.
check([(r["session"], r["user"], r["client"]) for r in json.loads(users[1])] == [(1, "admin", "PC one"), (2, "anna", "")],
      "users with a TAB in a client name: %s" % users[1])
z = zelhost_lists("wtsenumsessions", "alpha", scenario="watch.ini")
check(z["SessionNames"] == ["Con sole", "RDP-Tcp#2"] and len(z["SessionIds"]) == z["Count"], "TAB in a list: %s" % z)
check(waited[0] == 0 and json.loads(waited[1])[0]["result"] == 0x90 and platform_calls(log) == ["WTSWaitSystemEvent"],
      "wait 0x7fffffff: %s %s" % (waited[1], platform_calls(log)))
check(unknown[0] == 1 and [(r["error"], r["code"]) for r in json.loads(unknown[1])] == [(106, 1722)],
      "open of any name, first call fails: %s" % unknown[1])

# Newer servers: the lock state (reported reversed by 6.1, corrected), the
# idle time by the server's clock (from the disconnection where no input is
# known) and traffic; a server older than Windows 7 leaves them empty, says
# so, and still answers.
want = {2: ("yes", 600, 100), 3: ("no", 4200, 0), 4: ("", None, 0)}
for server, old in (("alpha", False), ("seven", False), ("vista", True)):
    status, out, err = velquor("users", "--server", server, "--format", "json", scenario="newer.ini")
    got = {r["session"]: (r["locked"], r["idle_seconds"], r["bytes_in"]) for r in json.loads(out)}
    check(status == 0 and got == ({k: ("", v[1], None) for k, v in want.items()} if old else want)
          and ("needs Windows 7" in err) == old, "details on %s: %s %s" % (server, got, err))
# What processes use, the heaviest first; an older server lists them plainly,
# and refuses a sort with the Windows it needs while the farm answers.
for args, status_want, pids in ((["--sort", "memory", "--top", "2"], 0, [2200, 3300]),
                                (["--sort", "cpu"], 0, [2100, 3300, 2200]),
                                (["--top", "1", "--server", "vista"], 3, [2100])):
    status, out, _ = velquor("processes", "--server", "alpha", *args, "--format", "json", scenario="newer.ini")
    rows = json.loads(out)
    check(status == status_want and [r["pid"] for r in rows if "error" not in r] == pids
          and all(r.get("error", 2003) == 2003 for r in rows), "processes %s: %s" % (args, out))
status, out, _ = velquor("processes", "--server", "vista", "--format", "json", scenario="newer.ini")
check(status == 0 and [r["working_set"] for r in json.loads(out)] == [None] * 3, "plain processes: %s" % out)
# connect, shadow, the servers of a domain: what the call log shows, the
# platform's refusals, and the Windows that an entry point needs.
log = os.path.join(BUILD, "test", "cli_newer.simlog")
missing = {"VELQUOR_SIM_MISSING": "WTSConnectSessionW,WTSStartRemoteControlSessionW"}
for args, stdin, extra, status_want, error, call in (
        (["connect", "3", "current", "--dry-run"], None, None, 0, None, None),
        (["connect", "3", "current", "--password-stdin"], b"secret\n", None, 0, None, "WTSConnectSessionW session=3"),
        (["connect", "3", "current", "--password-stdin"], b"wrong\n", None, 1, 120, "WTSConnectSessionW"),
        (["connect", "3", "current"], None, missing, 1, 2004, None),
        (["shadow", "2", "--server", "alpha"], None, None, 0, None, "WTSStartRemoteControlSessionW server=alpha session=2"),
        (["shadow", "--stop", "2"], None, None, 0, None, "WTSStopRemoteControlSession session=2"),
        (["shadow", "2"], None, missing, 1, 2004, None),
        (["servers", "CORP"], None, None, 0, None, "WTSEnumerateServersW domain=CORP"),
        (["servers", "NOPE"], None, None, 1, 122, "WTSEnumerateServersW"),
        (["sessions", "--server", "@domain:CORP"], None, None, 0, None, "WTSEnumerateServersW domain=CORP")):
    status, out, err = velquor(*(args + ["--format", "json"]), scenario="newer.ini", log=log, stdin=stdin, extra=extra)
    rows = json.loads(out) if out.strip() else []
    calls = [line for line in open(log, encoding="utf-8")] if os.path.exists(log) else []
    check(status == status_want and [r.get("error") for r in rows if "error" in r][:1] == ([error] if error else [])
          and (any(line.startswith(call) for line in calls) if call else not platform_calls(log)),
          "%s: %d %s %s %s" % (args, status, out, err, calls[-3:]))
check([r["server"] for r in json.loads(velquor("servers", "CORP", "--format", "json", scenario="newer.ini")[1])] ==
      ["alpha", "seven"], "servers of CORP")
# logons on this computer's registry (the terminal server's key made first),
# read right before each change; another server's registry is not reached.
subprocess.run([os.path.join(ROOT, "cmake", "wine-run.sh"), os.path.join(BUILD, "wineprefix"), "reg", "add",
                "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Terminal Server", "/f"], capture_output=True)
for args, before, after in ((["status"], "enabled", ""), (["drain", "--dry-run"], "enabled", "drain"),
                            (["drain", "--until-restart"], "enabled", "drain-until-restart"),
                            (["disable"], "drain-until-restart", "disabled"), (["enable"], "disabled", "enabled"),
                            (["status"], "enabled", "")):
    status, out, _ = velquor("logons", *args, "--format", "json", scenario="newer.ini")
    check(status == 0 and [(r["logons"], r["set"]) for r in json.loads(out)] == [(before, after)],
          "logons %s: %s" % (args, out))
status, out, _ = velquor("logons", "status", "--server", "alpha", "--format", "json", scenario="newer.ini")
check(status == 1 and json.loads(out)[0]["error"] == 123, "logons on another server: %s" % out)

# Usage errors: a status of their own and a usage line.
usage = (["frobnicate"], ["sessions", "--format", "xml"], ["kill"], ["kill", "x"], ["msg", "2", "t"],
         ["sessions", "--parallel", "0"], ["sessions", "--bogus"], ["disconnect", "1", "2"], [],
         ["logoff", "2", "--all"], ["logoff", "--all", "--user", "bob"], ["sessions", "--all"],
         ["sessions", "--dry-run"], ["shutdown", "0"], ["shutdown", "99"], ["logoff", "--idle-over", "2x"], ["sessions", "--server", "@Z:/nonexistent"],
         ["sessions", "--parallel", "5000"], ["logoff", "--state", "bogus"], ["logoff", "--user", "a", "--user", "b"])
for args, (status, out, err) in zip(usage, velquor_all(usage)):
    check(status == 2 and "usage: velquor" in err and (args[-1:] != ["5000"] or "1 to 4096" in err),
          "usage error for %s: %d %s" % (args, status, err))
status, out, _ = velquor("--version")
check(out.decode().strip() == "velquor " + sys.argv[2], "version: %s" % out)
status, out, _ = velquor("--help")
check(status == 0 and b"Exit status" in out, "help")

for f in failures:
    print("FAIL:", f)
print("%d failures" % len(failures))
sys.exit(1 if failures else 0)
