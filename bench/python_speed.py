"""The cost of a fit from Python against the console program, and two Python
threads fitting two problems against one fit after the other.

    python bench/python_speed.py PROGRAM FOLDER_A FOLDER_B [--passes N] [--repeats R] [--threads T]

FOLDER_A and FOLDER_B hold a problem's profile.tsv, form.tsv and data.tsv (bench/make_data;
bench/python_speed.sh makes the medium ones). Console: the whole run of PROGRAM
--passes N --threads T (start, reading, fit, result table). Python: load, fit,
every DataFrame of the result, write_table, in this interpreter. Reported: the
median wall time of R repeats of each, their ratio, the same bytes of the two
result tables, and the threads' ratio (two fits side by side with threads=1
each, over the two fits one after the other), with the machine's load average.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import tarnok


def files(folder):
    return [os.path.join(folder, name) for name in ("profile.tsv", "form.tsv", "data.tsv")]


def console_run(program, folder, passes, threads, out):
    start = time.perf_counter()
    subprocess.run([program, "--passes", str(passes), "--threads", str(threads), "n", *files(folder), out],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def python_run(folder, passes, threads, out):
    start = time.perf_counter()
    result = tarnok.fit(tarnok.load(*files(folder)), passes=passes, threads=threads)
    tables = (result.contributions, result.profiles, result.residue, result.variables, result.passes)
    result.write_table(out)
    assert all(table is not None for table in tables)
    return time.perf_counter() - start


def side_by_side(problems, passes):
    start = time.perf_counter()
    threads = [threading.Thread(target=tarnok.fit, args=(p,), kwargs=dict(passes=passes, threads=1)) for p in problems]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return time.perf_counter() - start


def one_after_the_other(problems, passes):
    start = time.perf_counter()
    for problem in problems:
        tarnok.fit(problem, passes=passes, threads=1)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("folder_a")
    parser.add_argument("folder_b")
    parser.add_argument("--passes", type=int, default=20)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--threads", type=int, default=1)
    a = parser.parse_args()
    print(f"load average before: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    with tempfile.TemporaryDirectory() as work:
        console_out, python_out = os.path.join(work, "console.tsv"), os.path.join(work, "python.tsv")
        console, python = [], []
        for _ in range(a.repeats):  # interleaved, so that a change in the machine's load hits both
            console.append(console_run(a.program, a.folder_a, a.passes, a.threads, console_out))
            python.append(python_run(a.folder_a, a.passes, a.threads, python_out))
        same = open(console_out, "rb").read() == open(python_out, "rb").read()
    c, p = statistics.median(console), statistics.median(python)
    print(f"fit of {a.folder_a}, --passes {a.passes} --threads {a.threads}, median of {a.repeats}:")
    print(f"  console {c:.3f} s   python {p:.3f} s   python/console {p / c:.3f}   same result table: {same}")
    problems = [tarnok.load(*files(a.folder_a)), tarnok.load(*files(a.folder_b))]
    sequential, parallel = [], []
    for _ in range(a.repeats):
        sequential.append(one_after_the_other(problems, a.passes))
        parallel.append(side_by_side(problems, a.passes))
    s, t = statistics.median(sequential), statistics.median(parallel)
    print(f"two fits (threads=1 each), median of {a.repeats}:")
    print(f"  one after the other {s:.3f} s   two Python threads {t:.3f} s   ratio {t / s:.3f}")
    print(f"load average after: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
