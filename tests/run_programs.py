#!/usr/bin/env python3
"""Runs the program cases: tests/programs/<area>/NAME.sno with NAME.out beside it.

Each case runs as `pellux NAME.sno` (or the arguments of NAME.cmd, where {} stands for the
program file) in a fresh scratch folder holding a copy of NAME.sno and of the files in NAME.d/.
Optional files beside the program:
  NAME.out   expected standard output (CR LF is compared as LF); empty when absent
  NAME.cmd   one line of arguments, split like a shell would (quotes group words)
  NAME.in    standard input (empty when absent)
  NAME.err   lines that must each appear in standard error
  NAME.code  expected exit code (0 when absent)
  NAME.env   KEY=VALUE lines added to the environment
  NAME.d/    files copied into the scratch folder
  NAME.mask  regular expressions, one a line: every match in a line of the expected and of the
             actual standard output is replaced by the same token before comparing (for times)
  NAME.signals  console signals to send while the case runs, one step a line:
             MARKER|SIGNAL|COUNT[|alive]: 0.1 s after a line of standard output contains MARKER,
             send COUNT signals (SIGINT, SIGTERM, ...) 20 ms apart (1 ms beyond 20); with "alive" the
             program must still be running half a second later, with "ends" it must have ended
             within a second.  Standard input is then a pipe that stays
             open (holding NAME.in) until the program ends.

Usage: run_programs.py --pellux PATH [--filter SUBSTR] [--jobs N] DIR...
Prints one line per failing case, with a diff, and ends with "N passed, N failed".
"""

import argparse
import concurrent.futures
import difflib
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

TIMEOUT = 60


def find_cases(dirs):
    cases = []
    for top in dirs:
        for root, subdirs, files in os.walk(top):
            # Data folders of a case are not cases of their own.
            subdirs[:] = sorted(d for d in subdirs if not d.endswith(".d"))
            for f in sorted(files):
                if f.endswith(".sno"):
                    cases.append(os.path.join(root, f))
    return cases


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def lf(data):
    return data.replace(b"\r\n", b"\n")


def show(data):
    return data.decode("utf-8", errors="backslashreplace")


def diff(expected, actual, what):
    lines = difflib.unified_diff(
        show(expected).splitlines(keepends=True),
        show(actual).splitlines(keepends=True),
        fromfile="expected " + what,
        tofile="actual " + what,
        n=2,
    )
    out = "".join(lines)
    if len(out) > 4000:
        out = out[:4000] + "\n    ... (diff cut short)\n"
    return out


def masked(data, patterns):
    if not patterns:
        return data
    lines = data.split(b"\n")
    for p in patterns:
        lines = [p.sub(b"<masked>", l) for l in lines]
    return b"\n".join(lines)


class SignalledRun:
    """The outcome of a run driven by a signal plan (the fields subprocess.run gives)."""

    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr


def run_with_signals(cmd, cwd, env, stdin, plan_text):
    """Runs cmd, sending the signals of the plan when their markers appear; returns
    (SignalledRun, problems)."""
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = [], []
    seen = threading.Condition()

    def reader(stream, sink):
        for line in iter(stream.readline, b""):
            with seen:
                sink.append(line)
                seen.notify_all()
        with seen:
            seen.notify_all()

    threads = [threading.Thread(target=reader, args=(proc.stdout, out), daemon=True),
               threading.Thread(target=reader, args=(proc.stderr, err), daemon=True)]
    for t in threads:
        t.start()
    if stdin:
        proc.stdin.write(stdin)
        proc.stdin.flush()
    problems = []
    deadline = time.time() + TIMEOUT
    for step in show(plan_text).splitlines():
        if not step.strip():
            continue
        fields = step.split("|")
        marker, sig, count = fields[0].encode(), getattr(signal, fields[1]), int(fields[2])
        with seen:
            while not any(marker in l for l in out) and proc.poll() is None and time.time() < deadline:
                seen.wait(0.1)
        if not any(marker in l for l in out):
            problems.append("marker %r never appeared" % fields[0])
            break
        time.sleep(0.1)  # let the program reach what it does after writing the marker
        gap = 0.02 if count <= 20 else 0.001
        for _ in range(count):
            if proc.poll() is None:
                proc.send_signal(sig)
            time.sleep(gap)
        check = fields[3].strip() if len(fields) > 3 else ""
        if check == "alive":
            time.sleep(0.5)
            if proc.poll() is not None:
                problems.append("ended after %d %s, expected to run on" % (count, fields[1]))
                break
        elif check == "ends":
            try:
                proc.wait(timeout=1)
            except subprocess.TimeoutExpired:
                problems.append("still running 1 s after %d %s" % (count, fields[1]))
                break
    try:
        proc.wait(timeout=max(1, deadline - time.time()))
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        problems.append("timed out after %d s" % TIMEOUT)
    proc.stdin.close()
    for t in threads:
        t.join(timeout=5)
    return SignalledRun(proc.returncode, b"".join(out), b"".join(err)), problems


def run_case(pellux, sno):
    base = sno[: -len(".sno")]
    name = os.path.basename(sno)
    expected_out = read_bytes(base + ".out") or b""
    cmd = read_bytes(base + ".cmd")
    stdin = read_bytes(base + ".in") or b""
    err_lines = read_bytes(base + ".err")
    code_text = read_bytes(base + ".code")
    env_text = read_bytes(base + ".env")
    mask_text = read_bytes(base + ".mask")
    signal_plan = read_bytes(base + ".signals")
    masks = [re.compile(l) for l in lf(mask_text).split(b"\n") if l] if mask_text else []

    if cmd is not None:
        text = show(cmd).strip("\r\n")
        args = [a.replace("{}", name) for a in shlex.split(text)]
    else:
        args = [name]
    expected_code = int(code_text.decode().strip()) if code_text is not None else 0

    env = dict(os.environ)
    env.pop("SNOPATH", None)
    if env_text is not None:
        for line in show(env_text).splitlines():
            if "=" in line:
                k, v = line.split("=", 1)
                env[k.strip()] = v

    problems = []
    with tempfile.TemporaryDirectory(prefix="pellux-case-") as scratch:
        shutil.copy(sno, os.path.join(scratch, name))
        data_dir = base + ".d"
        if os.path.isdir(data_dir):
            shutil.copytree(data_dir, scratch, dirs_exist_ok=True)
        if signal_plan is not None:
            proc, problems = run_with_signals([pellux] + args, scratch, env, stdin, signal_plan)
            if problems:
                return sno, problems
        else:
            try:
                proc = subprocess.run(
                    [pellux] + args,
                    cwd=scratch,
                    input=stdin,
                    stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE,
                    env=env,
                    timeout=TIMEOUT,
                )
            except subprocess.TimeoutExpired:
                return sno, ["timed out after %d s" % TIMEOUT]
            except OSError as e:
                return sno, ["could not run %s: %s" % (pellux, e)]

    out, err = lf(proc.stdout), lf(proc.stderr)
    out, expected_out = masked(out, masks), masked(lf(expected_out), masks)
    if out != expected_out:
        problems.append("standard output differs\n" + diff(lf(expected_out), out, "stdout"))
    if err_lines is not None:
        missing = [l for l in lf(err_lines).split(b"\n") if l and l not in err]
        if missing:
            problems.append(
                "standard error lacks %d expected line(s)\n%s\n    standard error was:\n%s"
                % (
                    len(missing),
                    "\n".join("    - " + show(l) for l in missing[:20]),
                    "".join("    | " + l for l in show(err).splitlines(True)[:40]),
                )
            )
    if proc.returncode != expected_code:
        what = "exit code %d, expected %d" % (proc.returncode, expected_code)
        if proc.returncode < 0:
            what = "killed by signal %d, expected exit code %d" % (-proc.returncode, expected_code)
        tail = show(err)[-2000:]
        problems.append(what + ("\n    standard error ends:\n    " + tail.replace("\n", "\n    ") if tail else ""))
    return sno, problems


def main():
    ap = argparse.ArgumentParser(description="Run the PELLUX program cases.")
    ap.add_argument("--pellux", required=True, help="the interpreter to test")
    ap.add_argument("--filter", default=None, help="only cases whose path contains this text")
    ap.add_argument("--jobs", type=int, default=2, help="cases run at the same time")
    ap.add_argument("dirs", nargs="+", help="folders holding cases")
    opts = ap.parse_args()

    pellux = os.path.abspath(opts.pellux)
    cases = find_cases(opts.dirs)
    if opts.filter:
        cases = [c for c in cases if opts.filter in c]

    passed = failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, opts.jobs)) as pool:
        for sno, problems in pool.map(lambda c: run_case(pellux, c), cases):
            if problems:
                failed += 1
                print("FAIL %s: %s" % (sno, problems[0].split("\n", 1)[0]))
                for p in problems:
                    rest = p.split("\n", 1)
                    if p is not problems[0]:
                        print("    " + rest[0])
                    if len(rest) > 1 and rest[1].strip():
                        print(rest[1].rstrip("\n"))
                sys.stdout.flush()
            else:
                passed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
