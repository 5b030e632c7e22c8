#!/usr/bin/env python3
"""Ctrl+C in the interactive shell ends the running child, not the shell.

Usage: shell_interrupt.py --tollard PATH [--work DIR]

The test holds the machine file's lock, so a child line of the shell waits
for it; then it sends SIGINT to the shell's whole process group, as a
terminal does for Ctrl+C. The child must end, the shell must prompt again
and go on running lines; and a shell at its prompt still ends on SIGINT as
before.
"""

import argparse
import fcntl
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path


def wait_for(predicate, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return False


def children_of(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(x) for x in f.read().split()]
    except OSError:
        return []


def read_prompt(shell):
    """Waits until the shell has written its first prompt."""
    text = b""
    while not text.endswith(b"tollard> "):
        byte = shell.stdout.read(1)
        if not byte:
            break
        text += byte
    return text.decode()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tollard", required=True)
    ap.add_argument("--work", default="/tmp/tollard-interrupt")
    args = ap.parse_args()
    work = Path(args.work)
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    machine = work / "machine.json"
    machine.write_text("{}\n")
    env = dict(os.environ, TOLLARD_MACHINE=str(machine))
    problems = []

    lock = open(str(machine) + ".lock", "w")
    shell = subprocess.Popen([args.tollard], env=env, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             start_new_session=True)
    # The shell connects (taking and giving up the lock) before it prompts:
    # take the lock only once it has given it up.
    prompt = read_prompt(shell)
    fcntl.flock(lock, fcntl.LOCK_EX)
    shell.stdin.write(b"policies\n")
    shell.stdin.flush()
    if not wait_for(lambda: children_of(shell.pid), 10):
        problems.append("the shell started no child")
    child = (children_of(shell.pid) or [0])[0]

    def child_waits():
        # Started (the command line is the child's own) and asleep on the lock.
        try:
            with open("/proc/%d/cmdline" % child, "rb") as f:
                started = b"policies" in f.read()
            with open("/proc/%d/stat" % child) as f:
                return started and f.read().rsplit(")", 1)[1].split()[0] == "S"
        except OSError:
            return False

    if child and not wait_for(child_waits, 10):
        problems.append("the child did not wait for the machine")
    time.sleep(0.1)
    os.killpg(shell.pid, signal.SIGINT)
    if child and not wait_for(lambda: not os.path.exists("/proc/%d/status" % child) or
                              "State:\tZ" in open("/proc/%d/status" % child).read(), 10):
        problems.append("the child did not end on Ctrl+C")
    fcntl.flock(lock, fcntl.LOCK_UN)
    if shell.poll() is not None:
        problems.append("the shell ended on Ctrl+C, status %r" % shell.returncode)
    else:
        out, err = shell.communicate(b"debug policies\nquit\n", timeout=30)
        text = prompt + out.decode()
        if shell.returncode != 0:
            problems.append("shell exit status %d" % shell.returncode)
        if text.count("tollard> ") != 3 or "RoundRobin" not in text:
            problems.append("shell output after Ctrl+C: %r %r" % (text, err))

    # At the prompt, with nothing running, Ctrl+C ends the shell as it did.
    shell = subprocess.Popen([args.tollard], env=env, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             start_new_session=True)
    read_prompt(shell)
    os.killpg(shell.pid, signal.SIGINT)
    try:
        shell.wait(timeout=10)
    except subprocess.TimeoutExpired:
        shell.kill()
        problems.append("a shell at its prompt ignored Ctrl+C")
    if shell.returncode != -signal.SIGINT:
        problems.append("a shell at its prompt ended with %r" % shell.returncode)

    for p in problems:
        print(p)
    print("passed" if not problems else "failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
