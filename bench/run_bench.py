#!/usr/bin/env python3
"""Times whole tollard commands on generated machines of two sizes.

Builds machine files with machinegen (by default 128 LUNs x 8 paths and
1,024 LUNs x 8 paths), runs each command several times with its output
going to /dev/null, and reports per command and size the median wall time,
the median CPU time (user + system) and the peak RSS, the ratio of
the large size's median to the small one's, and PASS or FAIL against the
targets. Times include starting the process, as a user sees them; the peak
RSS comes from one more run under GNU time. A command that changes the machine runs on a fresh copy of the
machine file each time, so every run does the same work. Exit status 1
when a command fails or a target is missed.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# Median wall time at the large size, in milliseconds.
TARGET_MS = 150.0
TARGET_ALL_MS = 1500.0
# Large over small, for sizes eight times apart.
TARGET_RATIO = 10.0
TARGET_PEAK_MIB = 128.0

TIME = "/usr/bin/time"


def parse_args():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=os.path.join(here, "..", "build", "default"),
                        help="build folder holding tollard and tools/machinegen")
    parser.add_argument("--runs", type=int, default=7, help="timed runs per command and size")
    parser.add_argument("--luns", default="128,1024",
                        help="small and large LUN counts, comma-separated")
    parser.add_argument("--paths", type=int, default=8, help="paths per LUN")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    return parser.parse_args()


class Runner:
    """Runs tollard on machine files and measures each run."""

    def __init__(self, tollard, work):
        self.tollard = tollard
        self.work = work

    def output(self, machine, words):
        env = dict(os.environ, TOLLARD_MACHINE=machine)
        done = subprocess.run([self.tollard] + words, env=env, capture_output=True, text=True,
                              check=False)
        if done.returncode != 0:
            raise RuntimeError(f"tollard {' '.join(words)} exited with {done.returncode}")
        return done.stdout

    def run(self, machine, words, changes, prefix=()):
        """Runs one command; its wall seconds and CPU seconds."""
        if changes:
            copy = os.path.join(self.work, "run.json")
            shutil.copyfile(machine, copy)
            machine = copy
        env = dict(os.environ, TOLLARD_MACHINE=machine)
        with open(os.devnull, "wb") as null:
            start = time.perf_counter()
            process = subprocess.Popen(list(prefix) + [self.tollard] + words, env=env,
                                       stdout=null, stderr=subprocess.PIPE)
            _, status, usage = os.wait4(process.pid, 0)
            wall = time.perf_counter() - start
        code = os.waitstatus_to_exitcode(status)
        errors = process.stderr.read().decode(errors="replace").strip()
        process.stderr.close()
        if code != 0 or errors:
            raise RuntimeError(f"tollard {' '.join(words)} exited with {code}: {errors}")
        return wall, usage.ru_utime + usage.ru_stime

    def peak(self, machine, words, changes):
        """Peak RSS in KiB of one run, as GNU time reports it: a child forked
        from Python would report Python's own RSS when that is the larger."""
        report = os.path.join(self.work, "peak.txt")
        self.run(machine, words, changes, prefix=(TIME, "-f", "%M", "-o", report))
        with open(report, encoding="ascii") as peak:
            return int(peak.read().split()[-1])


def first(pattern, text, what):
    found = re.search(pattern, text, re.MULTILINE)
    if not found:
        raise RuntimeError(f"no {what} in the pathinfo output")
    return found.group(1)


# (label, words, changes the machine, target ms); {path}, {serial} and
# {hba} stand for a path id, serial number and adapter WWPN of the machine.
COMMANDS = [
    ("devinfo", ["devinfo"], False, TARGET_MS),
    ("pathinfo", ["pathinfo"], False, TARGET_MS),
    ("pathinfo sn X", ["pathinfo", "sn", "{serial}"], False, TARGET_MS),
    ("primary", ["primary", "{path}"], True, TARGET_MS),
    ("weight", ["weight", "{path}", "5"], True, TARGET_MS),
    ("pathinfo <hba> online", ["pathinfo", "{hba}", "online"], True, TARGET_MS),
    ("clear", ["clear"], True, TARGET_MS),
    ("devinfo all RoundRobin", ["devinfo", "all", "RoundRobin"], True, TARGET_ALL_MS),
]


def names_of(runner, machine):
    """A path id, serial number and adapter WWPN that `machine` has."""
    listing = runner.output(machine, ["pathinfo"])
    return {
        "path": "0x" + first(r"^ PathId:\s+(\S+)", listing, "path id"),
        "serial": first(r"^ SerialNumber:\s+(\S+)", listing, "serial number"),
        "hba": first(r"^ HbaWWPN:\s+(\S+)", listing, "adapter WWPN"),
    }


def measure_all(runner, machine, runs):
    results = {}
    names = names_of(runner, machine)
    for label, template, changes, _ in COMMANDS:
        words = [word.format(**names) for word in template]
        peak = runner.peak(machine, words, changes)  # also warms the caches
        samples = [runner.run(machine, words, changes) for _ in range(runs)]
        results[label] = {
            "wall": statistics.median(s[0] for s in samples) * 1000,
            "cpu": statistics.median(s[1] for s in samples) * 1000,
            "peak": peak / 1024,
        }
    return results


def report(sizes, results):
    small, large = sizes
    head = (f"{'command':<24}{'':>2}"
            f"{small} paths: wall ms  cpu ms  peak MiB | "
            f"{large} paths: wall ms  cpu ms  peak MiB | ratio  target    result")
    print(head)
    print("-" * len(head))
    failed = False
    for label, _, _, target in COMMANDS:
        a, b = results[small][label], results[large][label]
        ratio = b["wall"] / a["wall"] if a["wall"] > 0 else float("inf")
        ok = (b["wall"] < target and ratio <= TARGET_RATIO and
              max(a["peak"], b["peak"]) < TARGET_PEAK_MIB)
        failed |= not ok
        print(f"{label:<24}{'':>2}"
              f"{'':>{len(str(small)) + 8}}{a['wall']:>7.1f} {a['cpu']:>7.1f} {a['peak']:>9.1f} | "
              f"{'':>{len(str(large)) + 8}}{b['wall']:>7.1f} {b['cpu']:>7.1f} {b['peak']:>9.1f} | "
              f"{ratio:>5.1f}  <{target:>6.0f}    {'PASS' if ok else 'FAIL'}")
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg())
    print(f"\nLoad average at the end: {load} (on {os.cpu_count()} CPUs).")
    print(f"Targets: median wall time at {large} paths under the target, at most "
          f"{TARGET_RATIO:.0f} times the time at {small} paths, peak RSS under "
          f"{TARGET_PEAK_MIB:.0f} MiB.")
    return not failed


def main():
    args = parse_args()
    build = os.path.abspath(args.build_dir)
    tollard = os.path.join(build, "tollard")
    machinegen = os.path.join(build, "tools", "machinegen")
    for program in (tollard, machinegen, TIME):
        if not os.access(program, os.X_OK):
            sys.exit(f"run_bench: {program} is missing (build the default preset; GNU time "
                     "is the time package)")
    work = tempfile.mkdtemp(prefix="tollard-bench-")
    try:
        runner = Runner(tollard, work)
        results, sizes = {}, []
        for luns in (int(n) for n in args.luns.split(",")):
            machine = os.path.join(work, f"machine-{luns}.json")
            with open(machine, "w", encoding="ascii") as out:
                subprocess.run([machinegen, "--luns", str(luns), "--paths", str(args.paths)],
                               stdout=out, check=True)
            size = luns * args.paths
            print(f"timing {size} paths ({luns} LUNs x {args.paths}), {args.runs} runs each...",
                  file=sys.stderr)
            results[size] = measure_all(runner, machine, args.runs)
            sizes.append(size)
        ok = report(sizes, results)
    except (RuntimeError, subprocess.CalledProcessError) as error:
        print(f"run_bench: {error}", file=sys.stderr)
        ok = False
    finally:
        if args.keep:
            print(f"machines kept in {work}", file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
