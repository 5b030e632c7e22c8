#!/usr/bin/env python3
"""End-to-end runner for tollard: runs the built program on fixture machines
and compares its output byte for byte.

Usage: run_e2e.py [--tollard PATH] [--install PATH] [--work DIR] [--wine]
                  [--wine-template DIR] [-k PATTERN] [CASE_FILE_OR_DIR ...]

Without paths it runs every tests/e2e/*.case. With --wine the program is a
Windows build run as `wine PATH`; outputs are compared with CR LF folded to
LF and exit statuses cut to 8 bits.

Case files (*.case) hold many cases. Outside blocks, blank lines and lines
starting with '#' are ignored; trailing blanks are an error everywhere
(editors strip them silently), write a final blank as \\x20.

  [case] a name, unique in its file
  machine = empty.json    a file of tests/fixtures, copied into a fresh
                          directory for each run; TOLLARD_MACHINE names it
          | demo          no TOLLARD_MACHINE: the built-in demo machine in a
                          fresh $XDG_STATE_HOME (needs mark = skip-wine,
                          since under Wine that is the real backend)
          | missing       TOLLARD_MACHINE names a file that does not exist
          | none          no TOLLARD_MACHINE (default); under Wine this is
                          the real win32 backend: only for commands that
                          never call a WMI method
  program = install       the program the case runs: tollard (default) or
                          install; an install case's run directory also
                          gets a copy of tests/package as package/
  args = policies "two words"   the command line after the program name,
                          split like a POSIX shell does (quotes, backslash);
                          several args lines run the case once for each;
                          {dir} is the run's directory
  env = NAME=value        extra environment ({dir} = the run's directory)
  unset = NAME            removes a variable from the environment
  status = 0              expected exit status (default 0)
  mark = skip-wine        or skip-native; several marks may be given
  stdin:                  a block (below); default empty
  stdin delay = 300       write the stdin block (then close it) only this
                          many ms after the program's first output on
                          stdout, so that a program that waits for input
                          waits meanwhile
  stdout:                 a block: the exact expected output; default empty
  stderr:                 likewise
  stdout contains = text  the stream contains text, escapes as in blocks
  stderr contains = text  (then it is not compared exactly unless a block
                          is given too)
  check unchanged         the machine file still has its original bytes (or,
                          for `missing`, still does not exist)
  check /json/pointer = <JSON value>   after the run, in the machine file
                          (for demo, the state file under $XDG_STATE_HOME)
  check /json/pointer absent
  exists = glob           a path relative to the run's directory exists
  absent = glob           ... or does not
  json schema = tollard-1 stdout is one JSON document valid against
                          docs/tollard-1.schema.json (any `json` command's
                          stdout that starts with "{" is validated anyway)
  stdout json /pointer = <JSON value>   stdout's document has this value
  stdout json /pointer absent            ... or has nothing there
                          (stdout is then compared exactly only if it also
                          has a block)

A block is the following lines that start with '|' or '@' ('#' comment
lines may stand between them). '|text' stands
for text and a line end; escapes: \\\\ backslash, \\t tab, \\r CR, \\xHH a byte,
and a backslash at the end of the line drops the line end. '@name' stands
for the bytes of tests/e2e/texts/name.txt. In expected texts and contains
values, {machine} is the machine path as given to the program and {dir} the
run's directory (both Windows paths under Wine).

The output is one line per failure followed by a unified diff where one
helps, and last a line `N passed, M failed`. Exit status 1 if any failed.
"""

import argparse
import difflib
import fcntl
import glob
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
FIXTURES = HERE / "fixtures"
PACKAGE = HERE / "package"
PROGRAMS = ("tollard", "install")
TEXTS = HERE / "e2e" / "texts"
RUN_TIMEOUT = 60
MACHINE_KINDS = ("demo", "missing", "none")
KEYS = ("machine", "program", "args", "env", "unset", "status", "mark", "exists", "absent",
        "stdin delay", "json schema")
DOCS = HERE.parent / "docs"
# Every answer of the json command is checked against this schema.
JSON_SCHEMA = "tollard-1"
MARKS = ("skip-wine", "skip-native")


class CaseError(Exception):
    """A malformed case file; carries the line number."""

    def __init__(self, line, message):
        super().__init__(message)
        self.line = line


@dataclass
class Case:
    file: str
    line: int
    name: str
    machine: str = "none"
    program: str = "tollard"
    args: list = field(default_factory=list)
    env: dict = field(default_factory=dict)
    unset: list = field(default_factory=list)
    status: int = 0
    stdin_delay: int = 0
    marks: set = field(default_factory=set)
    blocks: dict = field(default_factory=dict)
    contains: dict = field(default_factory=lambda: {"stdout": [], "stderr": []})
    checks: list = field(default_factory=list)
    exists: list = field(default_factory=list)
    absent: list = field(default_factory=list)
    schema: str = ""
    stdout_json: list = field(default_factory=list)


def decode_block_line(text, lineno, line_end=True):
    """The bytes a '|' line stands for (or a contains value, which has no
    line end)."""
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out += c.encode("utf-8")
            i += 1
            continue
        if i + 1 == len(text):
            return bytes(out)  # no line end
        e = text[i + 1]
        if e == "\\":
            out += b"\\"
        elif e == "t":
            out += b"\t"
        elif e == "r":
            out += b"\r"
        elif e == "x" and re.fullmatch(r"[0-9A-Fa-f]{2}", text[i + 2:i + 4]):
            out.append(int(text[i + 2:i + 4], 16))
            i += 2
        else:
            raise CaseError(lineno, f"unknown escape \\{e}")
        i += 2
    return bytes(out) + (b"\n" if line_end else b"")


def read_text(name, lineno):
    path = TEXTS / f"{name}.txt"
    try:
        return path.read_bytes()
    except OSError:
        raise CaseError(lineno, f"no text {path}")


def parse_check(value, lineno):
    if value == "unchanged":
        return ("unchanged",)
    m = re.fullmatch(r"(/\S*) absent", value)
    if m:
        return ("absent", m.group(1))
    m = re.fullmatch(r"(/\S*) = (.+)", value)
    if not m:
        raise CaseError(lineno, "check needs 'unchanged', '/ptr = JSON' or '/ptr absent'")
    try:
        return ("equals", m.group(1), json.loads(m.group(2)))
    except json.JSONDecodeError as e:
        raise CaseError(lineno, f"bad JSON in check: {e}")


def apply_setting(case, key, value, lineno):
    if key == "machine":
        if value not in MACHINE_KINDS and not (FIXTURES / value).is_file():
            raise CaseError(lineno, f"no fixture {value}")
        case.machine = value
    elif key == "program":
        if value not in PROGRAMS:
            raise CaseError(lineno, f"unknown program {value}")
        case.program = value
    elif key == "args":
        try:
            case.args.append(shlex.split(value))
        except ValueError as e:
            raise CaseError(lineno, f"bad args: {e}")
    elif key == "env":
        name, sep, val = value.partition("=")
        if not sep or not name:
            raise CaseError(lineno, "env needs NAME=value")
        case.env[name] = val
    elif key == "unset":
        case.unset.append(value)
    elif key == "status":
        if not re.fullmatch(r"\d+", value):
            raise CaseError(lineno, "status must be a number")
        case.status = int(value)
    elif key == "stdin delay":
        if not re.fullmatch(r"\d+", value):
            raise CaseError(lineno, "stdin delay must be a number of milliseconds")
        case.stdin_delay = int(value)
    elif key == "mark":
        if value not in MARKS:
            raise CaseError(lineno, f"unknown mark {value}")
        case.marks.add(value)
    elif key in ("exists", "absent"):
        getattr(case, key).append(value)
    elif key == "json schema":
        if not (DOCS / f"{value}.schema.json").is_file():
            raise CaseError(lineno, f"no schema docs/{value}.schema.json")
        case.schema = value


def parse_line(case, line, lineno):
    """One non-block line of a case."""
    m = re.fullmatch(r"(stdout|stderr) contains = (.*)", line)
    if m:
        text = decode_block_line(m.group(2), lineno, line_end=False)
        case.contains[m.group(1)].append(text.decode("utf-8"))
        return
    if line.startswith("check "):
        case.checks.append(parse_check(line[len("check "):], lineno))
        return
    if line.startswith("stdout json "):
        check = parse_check(line[len("stdout json "):], lineno)
        if check[0] == "unchanged":
            raise CaseError(lineno, "stdout json needs '/ptr = JSON' or '/ptr absent'")
        case.stdout_json.append(check)
        return
    key, sep, value = line.partition(" = ")
    if not sep or key not in KEYS:
        raise CaseError(lineno, f"cannot read: {line}")
    apply_setting(case, key, value, lineno)


def run_process(cmd, env, cwd, stdin, delay_ms):
    """Runs cmd with stdin written at once, or, with a delay, `delay_ms`
    after the program's first output (so a slow start, under Wine or on a
    busy machine, does not eat the delay); outputs go to files. Returns
    (exit status or None after RUN_TIMEOUT, stdout, stderr)."""
    # Files, not pipes: Wine's service processes, started by the first
    # run, inherit the handles and would hold pipes open.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=out, stderr=err, env=env,
                             cwd=cwd)
        deadline = time.monotonic() + RUN_TIMEOUT
        if delay_ms:
            while p.poll() is None and os.fstat(out.fileno()).st_size == 0 and \
                    time.monotonic() < deadline:
                time.sleep(0.01)
            time.sleep(delay_ms / 1000)
        try:
            p.communicate(input=stdin, timeout=max(deadline - time.monotonic(), 1))
            status = p.returncode
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            status = None
        out.seek(0)
        err.seek(0)
        return status, out.read(), err.read()


def validate(case):
    if not case.args:
        case.args.append([])
    if case.machine == "demo" and "skip-wine" not in case.marks:
        raise CaseError(case.line, "machine = demo needs mark = skip-wine")
    if case.machine in ("demo", "none", "missing"):
        wants_file = [c for c in case.checks if c[0] != "unchanged"]
        if case.machine != "demo" and wants_file:
            raise CaseError(case.line, "JSON checks need a machine file")
        if case.machine != "missing" and len(wants_file) < len(case.checks):
            raise CaseError(case.line, "check unchanged needs a machine file")


def parse_case_file(path):
    """Cases of one file, or raises CaseError."""
    cases, names = [], set()
    case, block = None, None
    lines = path.read_text(encoding="utf-8").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    for lineno, line in enumerate(lines, 1):
        if line != line.rstrip():
            raise CaseError(lineno, "trailing blank (write it as \\x20)")
        if block is not None and line[:1] in ("|", "@"):
            data = decode_block_line(line[1:], lineno) if line[0] == "|" else \
                read_text(line[1:], lineno)
            case.blocks[block] += data
            continue
        if block is not None and line.startswith("#"):
            continue
        block = None
        if not line or line.startswith("#"):
            continue
        if line.startswith("[case] "):
            if case:
                validate(case)
            name = line[len("[case] "):]
            if name in names:
                raise CaseError(lineno, f"duplicate case name {name}")
            names.add(name)
            case = Case(file=path.name, line=lineno, name=name)
            cases.append(case)
            continue
        if case is None:
            raise CaseError(lineno, "text before the first [case]")
        if line in ("stdin:", "stdout:", "stderr:"):
            block = line[:-1]
            if block in case.blocks:
                raise CaseError(lineno, f"second {block} block")
            case.blocks[block] = b""
            continue
        parse_line(case, line, lineno)
    if case:
        validate(case)
    return cases


class NativeRunner:
    """Runs the program directly."""

    def __init__(self, programs):
        self.programs = programs

    def host_path(self, path):
        return str(path)

    def base_env(self, run_dir):
        env = dict(os.environ)
        env.pop("TOLLARD_MACHINE", None)
        env["HOME"] = str(run_dir / "home")
        env["XDG_STATE_HOME"] = str(run_dir / "state")
        env["LC_ALL"] = "C.UTF-8"
        return env

    def run(self, program, args, env, stdin, cwd, delay_ms=0):
        return run_process([self.programs[program]] + args, env, cwd, stdin, delay_ms)

    def close(self):
        pass


class WineRunner:
    """Runs the Windows build under Wine, in one fresh copy of a template
    prefix for the whole invocation (the sim's state lives in the machine
    files, so runs share nothing through the prefix)."""

    def __init__(self, programs, template, prefix):
        self.programs = programs
        script = (f". {shlex.quote(str(HERE / 'wine_env.sh'))} && "
                  f"wine_env_fresh_prefix {shlex.quote(str(template))} "
                  f"{shlex.quote(str(prefix))} && env -0")
        p = subprocess.run(["bash", "-c", script], capture_output=True)
        if p.returncode != 0:
            sys.exit(f"cannot prepare the Wine prefix: {p.stderr.decode(errors='replace')}")
        self.env = dict(v.split("=", 1) for v in p.stdout.decode().split("\0") if "=" in v)

    def host_path(self, path):
        return "Z:" + str(path).replace("/", "\\")

    def base_env(self, run_dir):
        env = dict(self.env)
        env.pop("TOLLARD_MACHINE", None)
        env["XDG_STATE_HOME"] = str(run_dir / "state")
        return env

    def run(self, program, args, env, stdin, cwd, delay_ms=0):
        cmd = ["timeout", "-k", "5", str(RUN_TIMEOUT), "wine", self.programs[program]] + args
        status, stdout, stderr = run_process(cmd, env, cwd, stdin, delay_ms)
        if status is not None:
            status = None if status == 124 else status % 256
        return status, stdout.replace(b"\r\n", b"\n"), stderr.replace(b"\r\n", b"\n")

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)


def visible(data):
    """Lines of `data` for a diff: control bytes escaped, '$' at each line
    end, so blanks and missing line ends show."""
    lines = []
    for raw in data.split(b"\n"):
        text = raw.decode("utf-8", errors="backslashreplace")
        lines.append("".join(c if c.isprintable() else f"\\x{ord(c):02x}" for c in text))
    ends = [line + "$" for line in lines[:-1]]
    last = lines[-1]
    if last:
        blanks = len(last) - len(last.rstrip(" "))
        ends.append(last.rstrip(" ") + "\\x20" * blanks + " (no line end)")
    return ends


def diff(expected, actual):
    return "\n".join(difflib.unified_diff(visible(expected), visible(actual), "expected",
                                          "actual", lineterm=""))


def json_at(doc, pointer):
    """The value at an RFC 6901 pointer, or KeyError."""
    for token in pointer.split("/")[1:]:
        token = token.replace("~1", "/").replace("~0", "~")
        if isinstance(doc, list):
            if not token.isdigit() or int(token) >= len(doc):
                raise KeyError(pointer)
            doc = doc[int(token)]
        elif isinstance(doc, dict) and token in doc:
            doc = doc[token]
        else:
            raise KeyError(pointer)
    return doc


class Run:
    """One run of one case: its directory, environment and results."""

    def __init__(self, runner, case, args, run_dir):
        self.runner, self.case, self.args, self.dir = runner, case, args, run_dir
        self.machine_file = None
        self.original = None
        self.problems = []

    def prepare(self):
        shutil.rmtree(self.dir, ignore_errors=True)
        (self.dir / "home").mkdir(parents=True)
        (self.dir / "state").mkdir()
        env = self.runner.base_env(self.dir)
        if self.case.program == "install":
            shutil.copytree(PACKAGE, self.dir / "package")
        kind = self.case.machine
        if kind not in MACHINE_KINDS:
            self.machine_file = self.dir / kind
            shutil.copyfile(FIXTURES / kind, self.machine_file)
            self.original = self.machine_file.read_bytes()
        elif kind == "missing":
            self.machine_file = self.dir / "absent.json"
        if self.machine_file:
            env["TOLLARD_MACHINE"] = self.runner.host_path(self.machine_file)
        for name, value in self.case.env.items():
            env[name] = self.expand(value)
        for name in self.case.unset:
            env.pop(name, None)
        return env

    def expand(self, text):
        machine = self.runner.host_path(self.machine_file) if self.machine_file else ""
        return text.replace("{machine}", machine).replace("{dir}",
                                                          self.runner.host_path(self.dir))

    def compare_stream(self, stream, actual):
        expected = self.case.blocks.get(stream)
        wanted = self.case.contains[stream]
        checked = stream == "stdout" and self.case.stdout_json
        if expected is None and not wanted and not checked:
            expected = b""
        if expected is not None:
            expected = self.expand(expected.decode("utf-8")).encode("utf-8")
            if actual != expected:
                self.problems.append(f"{stream} differs\n{diff(expected, actual)}")
        for text in wanted:
            if self.expand(text).encode("utf-8") not in actual:
                self.problems.append(f"{stream} lacks {self.expand(text)!r}:\n"
                                     + "\n".join(visible(actual)))

    def state_file(self):
        if self.case.machine != "demo":
            return self.machine_file
        found = sorted(glob.glob(str(self.dir / "state" / "tollard" / "*.json")))
        return Path(found[0]) if len(found) == 1 else None

    def check_machine(self):
        for check in self.case.checks:
            if check[0] == "unchanged":
                now = self.machine_file.read_bytes() if self.machine_file.exists() else None
                if now != self.original:
                    self.problems.append("machine file changed")
                continue
            path = self.state_file()
            try:
                doc = json.loads(path.read_bytes())
            except (AttributeError, OSError, ValueError) as e:
                self.problems.append(f"cannot read the machine file {path}: {e}")
                return
            try:
                value = json_at(doc, check[1])
                if check[0] == "absent":
                    self.problems.append(f"{check[1]} present: {json.dumps(value)}")
                elif value != check[2]:
                    self.problems.append(f"{check[1]} = {json.dumps(value)}, expected "
                                         f"{json.dumps(check[2])}")
            except KeyError:
                if check[0] != "absent":
                    self.problems.append(f"{check[1]} missing in the machine file")

    def check_json(self, args, out):
        """The schema and the values of a JSON answer on stdout."""
        schema = self.case.schema
        if not schema and not self.case.stdout_json:
            if not (selects_json(args) and out.startswith(b"{")):
                return
            schema = JSON_SCHEMA
        try:
            document = json.loads(out)
        except ValueError as e:
            self.problems.append(f"stdout is not one JSON document: {e}")
            return
        if schema:
            for problem in schema_problems(schema, document):
                self.problems.append(f"stdout does not follow {schema}: {problem}")
        for kind, pointer, *value in self.case.stdout_json:
            try:
                found = json_at(document, pointer)
            except KeyError:
                if kind != "absent":
                    self.problems.append(f"stdout has no {pointer}")
                continue
            if kind == "absent":
                self.problems.append(f"stdout {pointer} present: {json.dumps(found)}")
            elif found != value[0]:
                self.problems.append(f"stdout {pointer} = {json.dumps(found)}, expected "
                                     f"{json.dumps(value[0])}")

    def check_paths(self):
        for pattern in self.case.exists:
            if not glob.glob(str(self.dir / pattern)):
                self.problems.append(f"{pattern} does not exist")
        for pattern in self.case.absent:
            if glob.glob(str(self.dir / pattern)):
                self.problems.append(f"{pattern} exists")

    def execute(self):
        env = self.prepare()
        stdin = self.case.blocks.get("stdin", b"")
        if self.runner.programs.get(self.case.program) is None:
            self.problems.append(f"no {self.case.program} program given")
            return False
        args = [self.expand(a) for a in self.args]
        status, out, err = self.runner.run(self.case.program, args, env, stdin, self.dir,
                                           self.case.stdin_delay)
        if status is None:
            self.problems.append(f"no end within {RUN_TIMEOUT} s")
        elif status < 0:
            self.problems.append(f"killed by signal {-status}")
        elif status != self.case.status:
            self.problems.append(f"exit status {status}, expected {self.case.status}")
        self.compare_stream("stdout", out)
        self.compare_stream("stderr", err)
        self.check_json(args, out)
        self.check_machine()
        self.check_paths()
        return not self.problems


def selects_json(args):
    """Whether the command line runs the json command (its word matches
    from three characters on, in any letter case)."""
    return bool(args) and 3 <= len(args[0]) <= 4 and "json".startswith(args[0].lower())


_validators = {}


def schema_problems(name, document):
    """The messages of validating `document` against docs/<name>.schema.json."""
    try:
        import jsonschema
    except ImportError:
        return ["the python module jsonschema is missing (apt-get install python3-jsonschema)"]
    if name not in _validators:
        schema = json.loads((DOCS / f"{name}.schema.json").read_text(encoding="utf-8"))
        jsonschema.Draft202012Validator.check_schema(schema)
        _validators[name] = jsonschema.Draft202012Validator(schema)
    return [f"{'/'.join(str(p) for p in e.absolute_path)}: {e.message}"
            for e in _validators[name].iter_errors(document)]


def collect(paths):
    """(cases, load errors) from case files and directories."""
    files = []
    for p in paths:
        p = Path(p)
        files.extend(sorted(p.glob("*.case")) if p.is_dir() else [p])
    cases, errors = [], []
    for f in files:
        try:
            cases.extend(parse_case_file(f))
        except CaseError as e:
            errors.append(f"FAIL {f.name}:{e.line}: {e}")
        except OSError as e:
            errors.append(f"FAIL {f}: {e}")
    return cases, errors


def wanted(case, options):
    """Whether -k selects the case at all."""
    return not options.k or options.k.lower() in f"{case.file}:{case.name}".lower()


def skipped_here(case, options):
    return ("skip-wine" if options.wine else "skip-native") in case.marks


def hold_work_dir(work):
    """Locks the work directory for this invocation: a second runner on the
    same build (two ctest runs, say) waits instead of wiping our runs and
    Wine prefix."""
    lock = open(work / "runner.lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        print(f"waiting for another runner using {work}", flush=True)
        fcntl.flock(lock, fcntl.LOCK_EX)
    return lock


def main():
    ap = argparse.ArgumentParser(description="tollard end-to-end cases")
    ap.add_argument("--tollard", default=str(HERE.parent / "build/default/tollard"))
    ap.add_argument("--install", help="the install program (default: beside tollard)")
    ap.add_argument("--work", default=str(HERE.parent / "build/e2e-work"))
    ap.add_argument("--wine", action="store_true", help="run the Windows build under Wine")
    ap.add_argument("--wine-template", help="template prefix (default WORK/wine-template)")
    ap.add_argument("-k", metavar="PATTERN", help="only cases whose file:name contains it")
    ap.add_argument("paths", nargs="*", default=[str(HERE / "e2e")])
    options = ap.parse_args()

    program = str(Path(options.tollard).resolve())
    if not os.access(program, os.R_OK):
        sys.exit(f"no program at {program}")
    installer = Path(options.install) if options.install else \
        Path(program).with_name("install" + Path(program).suffix)
    programs = {"tollard": program,
                "install": str(installer.resolve()) if installer.exists() else None}
    work = Path(options.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    lock = hold_work_dir(work)
    cases, errors = collect(options.paths)
    for line in errors:
        print(line)
    if options.wine:
        template = Path(options.wine_template or work / "wine-template").resolve()
        runner = WineRunner(programs, template, work / "wine-prefix")
    else:
        runner = NativeRunner(programs)
    shutil.rmtree(work / "runs", ignore_errors=True)
    passed, failed, skipped = 0, len(errors), 0
    try:
        for case in (c for c in cases if wanted(c, options)):
            if skipped_here(case, options):
                skipped += len(case.args)
                continue
            for args in case.args:
                run = Run(runner, case, args, work / "runs" / str(passed + failed))
                if run.execute():
                    passed += 1
                    continue
                failed += 1
                label = case.name + (f" [{shlex.join(args)}]" if len(case.args) > 1 else "")
                for problem in run.problems:
                    print(f"FAIL {case.file}:{case.line}: {label}: {problem}")
    finally:
        runner.close()
    if skipped:
        print(f"{skipped} skipped {'under Wine' if options.wine else 'natively'}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
