#!/usr/bin/env python3
"""Twenty mutating commands at once against one machine file.

Usage: stress_concurrent.py --tollard PATH [--work DIR] [--rounds N]

Each round copies the demo machine, prepares some reservations one command
after the other, then starts twenty commands together: policies, fail-back,
weights, a primary path, path states, reservations from several nexuses,
registry values, and an interactive shell whose own `debug` lines and child
line run among them. Every command must behave as if the commands had run
one after the other in some order: what each printed agrees with the file
afterwards, and no change is lost.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

PARAMETERS = "hklm\\system\\currentcontrolset\\services\\tevdsm\\dsmparameters"


def key_hex(key):
    return key.encode("ascii").hex().upper()


class Round:
    def __init__(self, tollard, folder):
        self.tollard = tollard
        self.folder = folder
        self.machine = folder / "machine.json"
        self.env = dict(os.environ, TOLLARD_MACHINE=str(self.machine))

    def make_machine(self):
        state = self.folder / "state"
        env = dict(os.environ, XDG_STATE_HOME=str(state))
        env.pop("TOLLARD_MACHINE", None)
        subprocess.run([self.tollard, "policies"], env=env, check=True,
                       stdout=subprocess.DEVNULL, timeout=60)
        shutil.copy(state / "tollard" / "machine.json", self.machine)

    def run(self, *words):
        done = subprocess.run([self.tollard, *words], env=self.env, text=True,
                              capture_output=True, timeout=60)
        return done.returncode, done.stdout, done.stderr

    def start(self, words, stdin=None):
        return subprocess.Popen([self.tollard, *words], env=self.env, text=True,
                                stdin=subprocess.PIPE if stdin is not None else subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def document(self):
        with open(self.machine) as f:
            return json.load(f)


def result_of(output):
    """The 'result: ...' line of a pgr command, as (result, status)."""
    for line in output.splitlines():
        if line.startswith("result: "):
            words = line.split()
            return int(words[1]), int(words[3], 16)
    raise AssertionError("no result line in %r" % output)


def lun_of(document, serial):
    return next(lun for lun in document["san"]["luns"] if lun["serial"] == serial)


def reservations_of(document, serial):
    return document.get("disks", {}).get(serial, {}).get("reservations", {})


def parameters_of(document):
    for name, values in document.get("registry", {}).items():
        if name.lower() == PARAMETERS:
            return values
    return {}


# The commands of a round: (name, words, stdin for a shell or None).
CONCURRENT = [
    ("policy 01", ["devinfo", "6A0B1C20-01", "LeastBlocks"], None),
    ("policy 03", ["devinfo", "6A0B1C20-03", "RoundRobin"], None),
    ("failback 06", ["devinfo", "6A0B1C20-06", "failback-on"], None),
    ("weight a", ["weight", "77020004", "11"], None),
    ("weight b", ["weight", "77020104", "12"], None),
    ("weight c", ["weight", "77030004", "13"], None),
    ("weight d", ["weight", "77030104", "14"], None),
    ("primary", ["primary", "77020102"], None),
    ("standby", ["pathinfo", "2101001B32A14A10", "standby"], None),
    ("reserve a", ["pgr", "reserve", "2.0.0.5", "KEYAAAAA"], None),
    ("reserve b", ["pgr", "reserve", "2.0.1.5", "KEYBBBBB"], None),
    ("clear a", ["pgr", "clear", "2.0.0.6", "KEYCCCCC"], None),
    ("clear b", ["pgr", "clear", "2.0.0.6", "KEYCCCCC"], None),
    ("register a", ["pgr", "register", "2.0.0.3", "REGKEY01"], None),
    ("register b", ["pgr", "register", "2.0.1.3", "REGKEY02"], None),
    ("register c", ["pgr", "register", "3.0.0.3", "REGKEY03"], None),
    ("register d", ["pgr", "register", "3.0.1.3", "REGKEY04"], None),
    ("set alpha", ["set", "StressAlpha", "1"], None),
    ("set beta", ["set", "StressBeta", "2"], None),
    ("list devices", ["devinfo"], None),
    ("list paths", ["pathinfo"], None),
    ("shell", [], "debug set StressGamma 3\ndevinfo 6A0B1C20-05 RoundRobin\n"
                 "debug devinfo 6A0B1C20-02 failback-off\nquit\n"),
]


def prepare(r):
    for words in (["pgr", "register", "2.0.0.5", "KEYAAAAA"],
                  ["pgr", "register", "2.0.1.5", "KEYBBBBB"],
                  ["pgr", "register", "2.0.0.6", "KEYCCCCC"],
                  ["pgr", "register", "3.0.0.6", "KEYDDDDD"]):
        status, out, err = r.run(*words)
        assert status == 0 and result_of(out) == (1, 0), (words, out, err)


def check(r, before, outputs):
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(what)

    for name, (status, out, err) in outputs.items():
        expect(status == 0, "%s: exit status %d, %r %r" % (name, status, out, err))
        expect(err == "", "%s: standard error %r" % (name, err))
        expect("command failed!" not in out, "%s: %r" % (name, out))
    after = r.document()

    expect(lun_of(after, "6A0B1C20-01")["policy"] == "LeastBlocks", "policy of 01 lost")
    expect(lun_of(after, "6A0B1C20-03")["policy"] == "RoundRobin", "policy of 03 lost")
    expect(lun_of(after, "6A0B1C20-05")["policy"] == "RoundRobin", "policy of 05 (child) lost")
    expect(lun_of(after, "6A0B1C20-06").get("failback") is True, "fail-back of 06 lost")
    expect(lun_of(after, "6A0B1C20-02").get("failback") is False, "fail-back of 02 (debug) lost")
    weights = {p["id"].lower(): p.get("weight", 0) for p in lun_of(after, "6A0B1C20-04")["paths"]}
    for path, weight in (("0x77020004", 11), ("0x77020104", 12), ("0x77030004", 13),
                         ("0x77030104", 14)):
        expect(weights.get(path) == weight, "weight of %s: %r" % (path, weights.get(path)))
    primary = next(p for p in lun_of(after, "6A0B1C20-02")["paths"] if p["id"] == "0x77020102")
    expect(primary.get("primary") is True, "primary path lost")
    for lun in after["san"]["luns"]:
        for p in lun["paths"]:
            if p["adapter"] == 1:
                expect(p.get("state") == "Standby", "%s not standby" % p["id"])

    # Two reserves from two registered nexuses: one holds, the other conflicts.
    results = {n: result_of(outputs[n][1]) for n in ("reserve a", "reserve b")}
    winners = [n for n, res in results.items() if res == (1, 0)]
    expect(len(winners) == 1, "reserve results %r" % results)
    losers = [n for n, res in results.items() if res != (1, 0)]
    expect(all(results[n] == (0, 0x18) for n in losers), "reserve loser %r" % results)
    holder = reservations_of(after, "6A0B1C20-05").get("reservation", {}).get("holder")
    expect(winners and holder == {"reserve a": "2.0.0.5", "reserve b": "2.0.1.5"}[winners[0]],
           "printed %r, file holds %r" % (winners, holder))

    # Two clears by one key: the second finds the key gone.
    clears = sorted(result_of(outputs[n][1]) for n in ("clear a", "clear b"))
    expect(clears == [(0, 0x18), (1, 0)], "clear results %r" % clears)
    gen_before = reservations_of(before, "6A0B1C20-06").get("generation", 0)
    state = reservations_of(after, "6A0B1C20-06")
    expect(state.get("generation") == gen_before + 1, "generation after clears: %r" % state)
    expect(not state.get("registrations"), "registrations after clear: %r" % state)

    # Four registrations from four nexuses: all kept, four generations.
    state = reservations_of(after, "6A0B1C20-03")
    keys = {(x["nexus"], x["key"]) for x in state.get("registrations", [])}
    wanted = {("2.0.0.3", key_hex("REGKEY01")), ("2.0.1.3", key_hex("REGKEY02")),
              ("3.0.0.3", key_hex("REGKEY03")), ("3.0.1.3", key_hex("REGKEY04"))}
    expect(keys == wanted, "registrations of 03: %r" % keys)
    expect(state.get("generation") == 4, "generation of 03: %r" % state.get("generation"))

    values = parameters_of(after)
    for name, value in (("StressAlpha", 1), ("StressBeta", 2), ("StressGamma", 3)):
        expect(values.get(name, {}).get("value") == value, "registry %s: %r" %
               (name, values.get(name)))

    # And the program reads back what the file says.
    status, out, _ = r.run("devinfo")
    expect(status == 0 and "6A0B1C20-01  LeastBlocks" in out, "devinfo after: %r" % out)

    # Listings that ran among the changes are whole: the same rows, by their
    # first word, as a listing made afterwards, whatever values they show.
    for name, words in (("list devices", ["devinfo"]), ("list paths", ["pathinfo"])):
        _, later, _ = r.run(*words)
        shape = [line.split()[:1] for line in later.splitlines()]
        seen = [line.split()[:1] for line in outputs[name][1].splitlines()]
        expect(seen == shape, "%s printed %r, a later run %r" % (name, outputs[name][1], later))
    return failures


def one_round(tollard, folder):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    r = Round(tollard, folder)
    r.make_machine()
    prepare(r)
    before = r.document()
    running = {}
    for name, words, stdin in CONCURRENT:
        running[name] = (r.start(words, stdin), stdin)
    outputs = {}
    for name, (process, stdin) in running.items():
        out, err = process.communicate(stdin, timeout=120)
        outputs[name] = (process.returncode, out, err)
    return check(r, before, outputs)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tollard", required=True)
    ap.add_argument("--work", default="/tmp/tollard-stress")
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()
    failed = 0
    for n in range(args.rounds):
        failures = one_round(args.tollard, Path(args.work) / ("round%d" % n))
        for f in failures:
            print("round %d: %s" % (n, f))
        failed += bool(failures)
    print("%d of %d rounds passed" % (args.rounds - failed, args.rounds))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
