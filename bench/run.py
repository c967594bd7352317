#!/usr/bin/env python3
"""Times the benchmark tasks in PELLUX, Perl and Python and prints the ratios.

    python3 bench/run.py --pellux PATH [--micro PATH_TO_pellux_bench] [--runs N] [TASK...]

Each task is bench/NAME.sno (run with the options in NAME.args, if there is one) with NAME.pl
and NAME.py doing the same work; the outputs must
agree (PELLUX ends its lines with CR LF, which is ignored).  The best of N runs (3) counts.
Times are the CPU time (user + system) of the child process, which a busy machine disturbs
far less than the wall clock; the wall clock of the best run is shown as well.
Every program runs in one scratch folder; a task's NAME.setup.py, if there is one, runs there
first (untimed) to write the data files the task reads.
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def tasks():
    names = sorted(f[:-4] for f in os.listdir(HERE) if f.endswith(".sno"))
    return [n for n in names
            if os.path.exists(os.path.join(HERE, n + ".pl"))
            and os.path.exists(os.path.join(HERE, n + ".py"))]


def extra_args(base):
    """Command-line options a task needs (NAME.args: one line, for example --work=...)."""
    path = base + ".args"
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return f.read().split()


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


SCRATCH = None  # the folder every program runs in


def run_once(cmd, timeout):
    cpu0 = child_cpu()
    start = time.perf_counter()
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                          cwd=SCRATCH)
    wall = time.perf_counter() - start
    cpu = child_cpu() - cpu0
    out = proc.stdout.replace(b"\r\n", b"\n")
    return cpu, wall, proc.returncode, out, proc.stderr


def best_of(cmd, runs, timeout):
    """(CPU seconds, wall seconds) of the fastest run and the output."""
    best = None
    output = None
    for _ in range(runs):
        cpu, wall, code, out, err = run_once(cmd, timeout)
        if code != 0:
            raise RuntimeError("%s exited with %d: %s" % (" ".join(cmd), code,
                                                          err.decode(errors="replace")[:400]))
        output = out
        if best is None or cpu < best[0]:
            best = (cpu, wall)
    return best, output


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--pellux", required=True, help="path to the pellux program")
    ap.add_argument("--micro", help="path to the pellux_bench micro-benchmark binary")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--timeout", type=float, default=300.0)
    ap.add_argument("only", nargs="*", help="task names to run (all when none)")
    args = ap.parse_args()

    pellux = os.path.abspath(args.pellux)
    if not os.access(pellux, os.X_OK):
        print("pellux not found or not executable: %s" % pellux, file=sys.stderr)
        return 2
    perl = shutil.which("perl")
    python = sys.executable

    global SCRATCH
    scratch = tempfile.TemporaryDirectory(prefix="pellux-bench-")
    SCRATCH = scratch.name
    failures = 0
    print("%-10s %10s %10s %10s %14s %14s   (CPU seconds; pellux wall clock)" %
          ("task", "pellux s", "perl s", "python s", "pellux/perl", "pellux/python"))
    for name in [t for t in tasks() if not args.only or t in args.only]:
        base = os.path.join(HERE, name)
        if os.path.exists(base + ".setup.py"):
            subprocess.run([python, base + ".setup.py"], cwd=SCRATCH, check=True)
        try:
            t_sno, out_sno = best_of([pellux] + extra_args(base) + [base + ".sno"], args.runs,
                                     args.timeout)
            t_py, out_py = best_of([python, base + ".py"], args.runs, args.timeout)
            t_pl, out_pl = (best_of([perl, base + ".pl"], args.runs, args.timeout)
                            if perl else (None, None))
        except (RuntimeError, subprocess.TimeoutExpired) as e:
            print("%-10s failed: %s" % (name, e))
            failures += 1
            continue
        agree = out_sno == out_py and (out_pl is None or out_pl == out_sno)
        wall_sno = t_sno[1]
        t_sno, t_py = t_sno[0], t_py[0]
        t_pl = t_pl[0] if t_pl is not None else None
        pl_text = "%10.3f" % t_pl if t_pl is not None else "%10s" % "-"
        pl_ratio = "%14.2f" % (t_sno / t_pl) if t_pl else "%14s" % "-"
        py_ratio = "%14.2f" % (t_sno / t_py) if t_py else "%14s" % "-"
        print("%-10s %10.3f %s %10.3f %s %s   (%.3f)%s" %
              (name, t_sno, pl_text, t_py, pl_ratio, py_ratio, wall_sno,
               "" if agree else "   OUTPUTS DIFFER"))
        if not agree:
            failures += 1

    if args.micro:
        micro = os.path.abspath(args.micro)
        if os.access(micro, os.X_OK):
            print("\nmicro-benchmarks (%s):" % micro, flush=True)
            code = subprocess.call([micro])
            if code != 0:
                failures += 1
        else:
            print("\nmicro-benchmark binary not built: %s" % micro)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
