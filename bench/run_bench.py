#!/usr/bin/env python3
"""Times every tollard command on generated machines of two sizes.

Builds machine files with machinegen (by default 256 LUNs x 8 paths and
2,048 LUNs x 8 paths: 2,048 and 16,384 paths) and runs every command on
each, side by side with `policies`, which reads nothing of the machine and
so is the floor: starting the process and loading the machine file. It
prints one table: per command and size the median wall time and the peak
RSS, the ratio of the large size's median to the floor's, the growth from
the small size to the large one, and PASS or FAIL against the targets.

Runs go in rounds, each round running every command once, so a burst of
other work on the machine slows every command alike rather than a few.
Times include starting the process, as a user sees them; the peak RSS
comes from one more run under GNU time. A command that changes the machine
runs on a fresh copy of the machine file each time, so every run does the
same work. Exit status 1 when a command fails or a target is missed.
"""

import argparse
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# At the large size, the median wall time over the floor's.
TARGET_FLOOR_RATIO = 2.0
TARGET_FLOOR_RATIO_WIDE = 3.0  # iostatus and pgr list walk every drive
# Large over small, for sizes eight times apart.
TARGET_GROWTH = 9.0
# The WMI object listings print every property of every path: they are held
# to a time of their own at the large size rather than to the floor.
TARGET_LISTING_MS = 1000.0

# The automation commands (json, health) over the text listing they stand
# in for, at the large size.
TARGET_AUTOMATION_RATIO = 1.5

TIME = "/usr/bin/time"
FLOOR = "policies"


def parse_args():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=os.path.join(here, "..", "build", "default"),
                        help="build folder holding tollard and tools/machinegen")
    parser.add_argument("--runs", type=int, default=7, help="timed rounds per size")
    parser.add_argument("--luns", default="256,2048",
                        help="small and large LUN counts, comma-separated")
    parser.add_argument("--paths", type=int, default=8, help="paths per LUN")
    parser.add_argument("-k", dest="only", default="",
                        help="time only the commands whose label contains this text")
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


# (label, words, changes the machine, target); the target is a ratio to
# the floor, ("ms", N) for at most N milliseconds, or ("vs", LABEL, R) for
# at most R times the command LABEL, measured in the same rounds. {path},
# {serial}, {fo_serial} and {hba} stand for a path id, a serial number, the
# serial number of a FailOver device and an adapter WWPN of the machine.
COMMANDS = [
    (FLOOR, [FLOOR], False, None),
    ("devinfo", ["devinfo"], False, TARGET_FLOOR_RATIO),
    ("pathinfo", ["pathinfo"], False, TARGET_FLOOR_RATIO),
    ("pathinfo sn X", ["pathinfo", "sn", "{serial}"], False, TARGET_FLOOR_RATIO),
    ("pathinfo hba X", ["pathinfo", "hba", "{hba}"], False, TARGET_FLOOR_RATIO),
    ("devinfo X RoundRobin", ["devinfo", "{serial}", "RoundRobin"], True, TARGET_FLOOR_RATIO),
    ("devinfo X failback-on", ["devinfo", "{fo_serial}", "failback-on"], True,
     TARGET_FLOOR_RATIO),
    ("devinfo all RoundRobin", ["devinfo", "all", "RoundRobin"], True, TARGET_FLOOR_RATIO),
    ("devinfo all failback-off", ["devinfo", "all", "failback-off"], True, TARGET_FLOOR_RATIO),
    ("pathinfo <hba> standby", ["pathinfo", "{hba}", "standby"], True, TARGET_FLOOR_RATIO),
    ("primary", ["primary", "{path}"], True, TARGET_FLOOR_RATIO),
    ("secondary", ["secondary", "{path}"], True, TARGET_FLOOR_RATIO),
    ("weight", ["weight", "{path}", "5"], True, TARGET_FLOOR_RATIO),
    ("clear", ["clear"], True, TARGET_FLOOR_RATIO),
    ("iostatus", ["iostatus"], False, TARGET_FLOOR_RATIO_WIDE),
    ("iostatus rescan", ["iostatus", "rescan"], False, TARGET_FLOOR_RATIO_WIDE),
    ("pgr list", ["pgr", "list"], False, TARGET_FLOOR_RATIO_WIDE),
    ("pgr list 1", ["pgr", "list", "1"], False, TARGET_FLOOR_RATIO),
    ("pgr", ["pgr"], False, TARGET_FLOOR_RATIO),
    ("pgr enable KEY", ["pgr", "enable", "ABCDEFGH"], True, TARGET_FLOOR_RATIO),
    ("pgr disable", ["pgr", "disable"], True, TARGET_FLOOR_RATIO),
    ("set NAME", ["set", "DsmUsePersistentReservation"], False, TARGET_FLOOR_RATIO),
    ("set NAME 1", ["set", "DsmUsePersistentReservation", "1"], True, TARGET_FLOOR_RATIO),
    ("mpiolist 5", ["mpiolist", "5"], False, ("ms", TARGET_LISTING_MS)),
    ("instance ORNDSM_PERFINFO", ["instance", "ORNDSM_PERFINFO"], False,
     ("ms", TARGET_LISTING_MS)),
    ("json devinfo", ["json", "devinfo"], False, ("vs", "devinfo", TARGET_AUTOMATION_RATIO)),
    ("json pathinfo", ["json", "pathinfo"], False, ("vs", "pathinfo", TARGET_AUTOMATION_RATIO)),
    ("json iostatus", ["json", "iostatus"], False, ("vs", "iostatus", TARGET_AUTOMATION_RATIO)),
    ("health", ["health"], False, ("vs", "pathinfo", TARGET_AUTOMATION_RATIO)),
]


def names_of(runner, machine):
    """A path id, serial numbers and adapter WWPN that `machine` has."""
    listing = runner.output(machine, ["pathinfo"])
    return {
        "path": "0x" + first(r"^ PathId:\s+(\S+)", listing, "path id"),
        "serial": first(r"^ SerialNumber:\s+(\S+)", listing, "serial number"),
        "fo_serial": first(r"^ Policy:\s+FailOver\n SerialNumber:\s+(\S+)", listing,
                           "FailOver device"),
        "hba": first(r"^ HbaWWPN:\s+(\S+)", listing, "adapter WWPN"),
    }


def measure_all(runner, machine, runs, commands):
    names = names_of(runner, machine)
    planned = [(label, [w.format(**names) for w in words], changes)
               for label, words, changes, _ in commands]
    results = {label: {"walls": [], "cpus": []} for label, _, _ in planned}
    for label, words, changes in planned:
        results[label]["peak"] = runner.peak(machine, words, changes) / 1024  # warms caches
    for _ in range(runs):
        for label, words, changes in planned:
            wall, cpu = runner.run(machine, words, changes)
            results[label]["walls"].append(wall)
            results[label]["cpus"].append(cpu)
    for entry in results.values():
        entry["wall"] = statistics.median(entry.pop("walls")) * 1000
        entry["cpu"] = statistics.median(entry.pop("cpus")) * 1000
    return results


def report(sizes, results, commands):
    small, large = sizes
    head = (f"{'command':<26}| {small:>6} paths: wall ms  peak MiB "
            f"| {large:>6} paths: wall ms  cpu ms  peak MiB | x floor (cpu)  growth  result")
    print(head)
    print("-" * len(head))
    floor = results[large][FLOOR]["wall"]
    floor_cpu = results[large][FLOOR]["cpu"]
    failed = False
    for label, _, _, target in commands:
        a, b = results[small][label], results[large][label]
        growth = b["wall"] / a["wall"] if a["wall"] > 0 else float("inf")
        ratio = b["wall"] / floor if floor > 0 else float("inf")
        # The CPU time moves less with other work on the machine: shown
        # beside the verdict, which rests on the wall time.
        ratio_cpu = b["cpu"] / floor_cpu if floor_cpu > 0 else float("inf")
        verdict = ""
        if isinstance(target, tuple) and target[0] == "vs":
            reference = results[large][target[1]]["wall"]
            versus = b["wall"] / reference if reference > 0 else float("inf")
            ok = versus <= target[2] and growth <= TARGET_GROWTH
            failed |= not ok
            verdict = f"{'PASS' if ok else 'FAIL'} ({versus:.2f}x {target[1]}, <= {target[2]}x)"
        elif isinstance(target, tuple):
            ok = b["wall"] <= target[1] and growth <= TARGET_GROWTH
            failed |= not ok
            verdict = f"{'PASS' if ok else 'FAIL'} (<= {target[1]:.0f} ms)"
        elif target is not None:
            ok = ratio <= target and growth <= TARGET_GROWTH
            failed |= not ok
            verdict = f"{'PASS' if ok else 'FAIL'} (<= {target:.0f}x)"
        print(f"{label:<26}| {'':>13}{a['wall']:>8.1f} {a['peak']:>9.1f} "
              f"| {'':>13}{b['wall']:>8.1f} {b['cpu']:>7.1f} {b['peak']:>9.1f} "
              f"| {ratio:>7.2f} ({ratio_cpu:>4.2f}) {growth:>7.2f}  {verdict}")
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg())
    print(f"\nMachine: {platform.machine()}, {os.cpu_count()} CPUs, "
          f"{platform.system()} {platform.release()}; load average at the end: {load}.")
    print(f"Targets at {large} paths: at most {TARGET_FLOOR_RATIO:.0f} times the floor "
          f"({FLOOR}), {TARGET_FLOOR_RATIO_WIDE:.0f} times for the drive walks; growth from "
          f"{small} paths at most {TARGET_GROWTH:.0f} times; the WMI object listings at most "
          f"{TARGET_LISTING_MS:.0f} ms; json and health at most {TARGET_AUTOMATION_RATIO} times "
          f"the text listing they stand in for.")
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
    chosen = [c for c in COMMANDS if c[0] == FLOOR or args.only in c[0]]
    # A command held to another is timed beside it.
    needed = {c[3][1] for c in chosen if isinstance(c[3], tuple) and c[3][0] == "vs"}
    commands = [c for c in COMMANDS if c in chosen or c[0] in needed]
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
            print(f"timing {size} paths ({luns} LUNs x {args.paths}), {args.runs} rounds...",
                  file=sys.stderr)
            results[size] = measure_all(runner, machine, args.runs, commands)
            sizes.append(size)
        ok = report(sizes, results, commands)
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
