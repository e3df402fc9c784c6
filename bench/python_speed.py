"""The cost of a fit from Python against the console program, and two Python
threads fitting two problems against one fit after the other.

    python bench/python_speed.py PROGRAM FOLDER_A FOLDER_B [--passes N] [--repeats R] [--threads T]

FOLDER_A and FOLDER_B hold a problem's profile.tsv, form.tsv and data.tsv (bench/make_data;
bench/python_speed.sh makes the medium ones). Console: the whole run of PROGRAM
--passes N --threads T (start, reading, fit, result table). Python: load, fit,
every DataFrame of the result, write_table, in this interpreter. Reported: the
median wall and user (CPU) seconds of R repeats of each, their ratios, the same
bytes of the two result tables, and the threads' ratio (two fits side by side
with threads=1 each, over the two fits one after the other), with the machine's
load average.
"""

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import tarnok


def files(folder):
    return [os.path.join(folder, name) for name in ("profile.tsv", "form.tsv", "data.tsv")]


def user_seconds(who):
    return resource.getrusage(who).ru_utime


def timed(work, who=resource.RUSAGE_SELF):
    """(wall, user) seconds of work(); user of this process, or of its waited-for
    children with who=RUSAGE_CHILDREN."""
    user, wall = user_seconds(who), time.perf_counter()
    work()
    return time.perf_counter() - wall, user_seconds(who) - user


def console_run(program, folder, passes, threads, out):
    return timed(lambda: subprocess.run([program, "--passes", str(passes), "--threads", str(threads), "n",
                                         *files(folder), out], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        check=True), resource.RUSAGE_CHILDREN)


def python_run(folder, passes, threads, out):
    def work():
        result = tarnok.fit(tarnok.load(*files(folder)), passes=passes, threads=threads)
        tables = (result.contributions, result.profiles, result.residue, result.variables, result.passes)
        result.write_table(out)
        assert all(table is not None for table in tables)
    return timed(work)


def side_by_side(problems, passes):
    def work():
        threads = [threading.Thread(target=tarnok.fit, args=(p,), kwargs=dict(passes=passes, threads=1))
                   for p in problems]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    return timed(work)


def one_after_the_other(problems, passes):
    def work():
        for problem in problems:
            tarnok.fit(problem, passes=passes, threads=1)
    return timed(work)


def median(runs, k):
    return statistics.median(run[k] for run in runs)


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("folder_a")
    parser.add_argument("folder_b")
    parser.add_argument("--passes", type=int, default=20)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--threads", type=int, default=1)
    a = parser.parse_args()
    print(f"load average before: {load_average()}")
    with tempfile.TemporaryDirectory() as work:
        console_out, python_out = os.path.join(work, "console.tsv"), os.path.join(work, "python.tsv")
        console, python = [], []
        for _ in range(a.repeats):  # interleaved, so that a change in the machine's load hits both
            console.append(console_run(a.program, a.folder_a, a.passes, a.threads, console_out))
            python.append(python_run(a.folder_a, a.passes, a.threads, python_out))
        with open(console_out, "rb") as c, open(python_out, "rb") as p:
            same = c.read() == p.read()
    problems = [tarnok.load(*files(a.folder_a)), tarnok.load(*files(a.folder_b))]
    sequential, parallel = [], []
    for _ in range(a.repeats):
        sequential.append(one_after_the_other(problems, a.passes))
        parallel.append(side_by_side(problems, a.passes))
    print(f"medians of {a.repeats} runs, --passes {a.passes}; same result table from both: {same}")
    print(f"{'run':<46}{'wall s':>9}{'user s':>9}")
    rows = [(f"console, {os.path.basename(a.folder_a)}, --threads {a.threads}", console),
            (f"python (load, fit, DataFrames, table), threads={a.threads}", python),
            ("two fits one after the other (threads=1)", sequential),
            ("two fits in two Python threads (threads=1)", parallel)]
    for name, runs in rows:
        print(f"{name:<46}{median(runs, 0):9.3f}{median(runs, 1):9.3f}")
    print(f"python / console: wall {median(python, 0) / median(console, 0):.3f}   "
          f"user {median(python, 1) / median(console, 1):.3f}   (target: at most 1.05)")
    print(f"two threads / one after the other: wall {median(parallel, 0) / median(sequential, 0):.3f}   "
          f"user {median(parallel, 1) / median(sequential, 1):.3f}   (target: wall at most 0.6)")
    print(f"load average after: {load_average()}")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
