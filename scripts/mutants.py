#!/usr/bin/env python3
"""Mutation check: do the tests notice realistic faults?

Reads the mutants of scripts/mutants.txt and, one at a time, puts each into a
copy of the source tree (build-mutants/tree, never the tree you work in),
rebuilds incrementally in build-mutants/tree/build, runs the tests the mutant names
with a bounded time, and puts the line back. Prints a table of killed,
survived, not-applied (pattern missing or not unique) and build-failed mutants
with the kill rate. See docs/mutants.md.
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_LIST = ROOT / "scripts" / "mutants.txt"
WORK = ROOT / "build-mutants"
# Never copied into the mutation tree: build folders, git data, caches.
SKIP_TOP = {".git", ".cache"}


@dataclass
class Mutant:
    id: str
    file: str = ""
    find: str = ""
    replace: str = ""
    tests: str = ""
    targets: list = field(default_factory=list)
    about: str = ""
    line: int = 0  # where the entry starts in the list, for messages


def unescape(text):
    # A pattern is one line in the list; "\n" stands for a line break, "\\" for a backslash.
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in "n\\":
            out.append("\n" if text[i + 1] == "n" else "\\")
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def parse_list(path):
    """Entries start with [id]; then `key: value` lines; # starts a comment line."""
    mutants, current = [], None
    keys = {"file", "find", "replace", "tests", "targets", "about"}
    for number, raw in enumerate(path.read_text().splitlines(), 1):
        line = raw.rstrip("\n")
        stripped = line.strip()
        if not stripped or stripped.startswith("#"):
            continue
        if stripped.startswith("[") and stripped.endswith("]"):
            current = Mutant(id=stripped[1:-1].strip(), line=number)
            mutants.append(current)
            continue
        key, sep, value = line.partition(":")
        key = key.strip()
        if current is None or not sep or key not in keys:
            sys.exit(f"{path}:{number}: expected [id] or one of {sorted(keys)}: {raw!r}")
        # One space after the colon belongs to the syntax; the rest is the value.
        value = value[1:] if value.startswith(" ") else value
        if key in ("find", "replace"):
            setattr(current, key, unescape(value))
        elif key == "targets":
            current.targets = value.split()
        else:
            setattr(current, key, value.strip())
    seen = set()
    for m in mutants:
        missing = [k for k in ("file", "find", "tests", "about") if not getattr(m, k)]
        if missing:
            sys.exit(f"{path}:{m.line}: mutant {m.id} lacks {', '.join(missing)}")
        if m.find == m.replace:
            sys.exit(f"{path}:{m.line}: mutant {m.id} replaces its pattern by itself")
        if m.id in seen:
            sys.exit(f"{path}:{m.line}: mutant id {m.id} used twice")
        seen.add(m.id)
    return mutants


def sync_tree(source, dest):
    """Makes dest a copy of source's working files. Unchanged files keep their
    time stamps, so the build in build-mutants stays incremental."""
    wanted = set()
    for dirpath, dirnames, filenames in os.walk(source):
        rel = Path(dirpath).relative_to(source)
        if rel == Path("."):
            dirnames[:] = [d for d in dirnames if d not in SKIP_TOP and d != "build" and not d.startswith("build-")]
        dirnames.sort()
        (dest / rel).mkdir(parents=True, exist_ok=True)
        wanted.add(rel)
        for name in filenames:
            src, dst = Path(dirpath) / name, dest / rel / name
            wanted.add(rel / name)
            if src.is_symlink():
                if dst.is_symlink() and os.readlink(dst) == os.readlink(src):
                    continue
                if dst.exists() or dst.is_symlink():
                    dst.unlink()
                os.symlink(os.readlink(src), dst)
                continue
            s = src.stat()
            try:
                d = dst.stat()
                if d.st_size == s.st_size and (int(d.st_mtime) == int(s.st_mtime) or dst.read_bytes() == src.read_bytes()):
                    continue
                # A changed file gets the time of now, newer than anything built
                # from an earlier (perhaps mutated) version of it.
                shutil.copyfile(src, dst)
                shutil.copymode(src, dst)
            except FileNotFoundError:
                shutil.copy2(src, dst)
    for dirpath, dirnames, filenames in os.walk(dest):
        rel = Path(dirpath).relative_to(dest)
        if rel == Path("."):
            dirnames[:] = [d for d in dirnames if d != "build"]  # the copy's own build folder stays
        elif rel not in wanted:
            shutil.rmtree(dirpath, ignore_errors=True)
            dirnames[:] = []
            continue
        for name in filenames:
            if rel / name not in wanted:
                (Path(dirpath) / name).unlink()


def run(cmd, log, timeout, cwd=None):
    """Runs cmd, appending its output to log; its exit code, or None on time-out."""
    with open(log, "a") as out:
        out.write(f"\n$ {' '.join(cmd)}\n")
        out.flush()
        try:
            return subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            out.write(f"\n(time-out after {timeout} s)\n")
            return None


def configure(src, build, log):
    args = ["cmake", "-S", str(src), "-B", str(build), "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DZYL_BUILD_BENCH=OFF"]
    if shutil.which("ccache"):
        args += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
    return run(args, log, 600) == 0


def build(build_dir, targets, jobs, log, timeout):
    cmd = ["cmake", "--build", str(build_dir), "-j", str(jobs)]
    for t in targets or ["all"]:
        cmd += ["--target", t]
    return run(cmd, log, timeout) == 0


def ctest(build_dir, regex, jobs, test_timeout, log, timeout):
    cmd = ["ctest", "--test-dir", str(build_dir), "-R", regex, "-j", str(jobs), "--timeout", str(test_timeout),
           "--no-tests=error", "--output-on-failure"]
    # Exit 0: every test passed. A time-out of a test is a failure, i.e. a kill.
    code = run(cmd, log, timeout)
    return code


def apply(src, mutant):
    """Puts the mutant into the copy; the original text, or a reason it cannot."""
    path = src / mutant.file
    if not path.is_file():
        return None, "no such file"
    text = path.read_text()
    count = text.count(mutant.find)
    if count != 1:
        return None, "pattern not found" if count == 0 else f"pattern found {count} times"
    path.write_text(text.replace(mutant.find, mutant.replace, 1))
    return text, ""


def revert(src, mutant, original):
    (src / mutant.file).write_text(original)


def print_table(results, out=sys.stdout):
    width = max([len(r["id"]) for r in results] + [6])
    out.write(f"\n{'mutant':<{width}}  {'result':<13} {'secs':>5}  about\n")
    for r in results:
        note = f" ({r['note']})" if r.get("note") else ""
        out.write(f"{r['id']:<{width}}  {r['result']:<13} {r['seconds']:>5.0f}  {r['about']}{note}\n")
    counts = {}
    for r in results:
        counts[r["result"]] = counts.get(r["result"], 0) + 1
    judged = counts.get("killed", 0) + counts.get("survived", 0)
    rate = 100.0 * counts.get("killed", 0) / judged if judged else 0.0
    summary = ", ".join(f"{k} {v}" for k, v in sorted(counts.items()))
    out.write(f"\n{summary}; kill rate {rate:.1f} % of {judged} applied mutants\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("ids", nargs="*", help="run only these mutants (default: all)")
    parser.add_argument("--list", action="store_true", help="list the mutants and exit")
    parser.add_argument("--file", type=Path, default=DEFAULT_LIST, help="the list of mutants")
    parser.add_argument("--jobs", type=int, default=2, help="parallel build jobs and tests (default 2)")
    parser.add_argument("--test-timeout", type=int, default=300, help="seconds per test (ctest --timeout)")
    parser.add_argument("--build-timeout", type=int, default=3600, help="seconds per build")
    parser.add_argument("--no-baseline", action="store_true",
                        help="skip checking that the named tests pass on the unchanged tree")
    parser.add_argument("--work", type=Path, default=WORK, help="folder of the copy and its build")
    args = parser.parse_args()

    # Stopped with SIGTERM or SIGINT (even when started in the background),
    # the mutant in hand is put back and running builds and tests are killed.
    for stop in (signal.SIGTERM, signal.SIGINT):
        signal.signal(stop, lambda number, frame: sys.exit(128 + number))
    mutants = parse_list(args.file)
    if args.list:
        width = max(len(m.id) for m in mutants)
        problems = 0
        for m in mutants:
            path = ROOT / m.file
            count = path.read_text().count(m.find) if path.is_file() else -1
            state = "" if count == 1 else "  NOT APPLICABLE: " + (
                "no such file" if count < 0 else "pattern not found" if count == 0 else f"pattern found {count} times")
            problems += state != ""
            print(f"{m.id:<{width}}  {m.file}  [{m.tests}]  {m.about}{state}")
        print(f"{len(mutants)} mutants, {problems} not applicable to this tree")
        return 1 if problems else 0
    if args.ids:
        unknown = set(args.ids) - {m.id for m in mutants}
        if unknown:
            sys.exit(f"unknown mutant ids: {', '.join(sorted(unknown))}")
        mutants = [m for m in mutants if m.id in args.ids]

    # The build folder sits in the copy as build/ sits in the tree, so that
    # ccache (with CCACHE_BASEDIR set) finds what the normal build compiled.
    src = args.work / "tree"
    build_dir = src / "build"
    log_dir = args.work / "logs"
    log_dir.mkdir(parents=True, exist_ok=True)
    started = time.monotonic()
    print(f"copying the tree into {src}", flush=True)
    sync_tree(ROOT, src)
    setup_log = log_dir / "setup.log"
    setup_log.write_text("")
    if not configure(src, build_dir, setup_log):
        sys.exit(f"configuring failed; see {setup_log}")
    targets = sorted({t for m in mutants for t in m.targets}) if all(m.targets for m in mutants) else []
    print("building the unchanged tree", flush=True)
    if not build(build_dir, targets, args.jobs, setup_log, args.build_timeout):
        sys.exit(f"the unchanged tree does not build; see {setup_log}")
    if not args.no_baseline:
        # A mutant counts as killed only if its tests pass without it.
        for regex in sorted({m.tests for m in mutants}):
            print(f"baseline: {regex}", flush=True)
            if ctest(build_dir, regex, args.jobs, args.test_timeout, setup_log, None) != 0:
                sys.exit(f"tests '{regex}' fail on the unchanged tree; see {setup_log}")

    results = []
    for index, m in enumerate(mutants, 1):
        t0 = time.monotonic()
        log = log_dir / f"{m.id}.log"
        log.write_text(f"{m.id}: {m.about}\n{m.file}\n- {m.find}\n+ {m.replace}\n")
        result, note = "", ""
        original, reason = apply(src, m)
        if original is None:
            result, note = "not-applied", reason
        else:
            try:
                if not build(build_dir, m.targets, args.jobs, log, args.build_timeout):
                    result = "build-failed"
                else:
                    code = ctest(build_dir, m.tests, args.jobs, args.test_timeout, log, None)
                    result = "survived" if code == 0 else "killed"
            finally:
                revert(src, m, original)
        seconds = time.monotonic() - t0
        results.append({"id": m.id, "result": result, "seconds": seconds, "about": m.about, "note": note})
        print(f"[{index}/{len(mutants)}] {m.id}: {result}{' (' + note + ')' if note else ''} in {seconds:.0f} s",
              flush=True)

    (args.work / "results.json").write_text(json.dumps(results, indent=1))
    print_table(results)
    print(f"total {time.monotonic() - started:.0f} s; logs in {log_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
