#!/usr/bin/env python3
"""Measures how many small injected faults the test suite catches.

It lists the places in the product sources (crates/zem-package/src and
include, crates/zem-format/src, crates/zem-cli/src, crates/zem-python/src;
.cpp and .hpp files, without *_test.cpp, testing/
folders, comments and string literals) where one of these faults can be made:

  relational   '<' <-> '<=', '>' <-> '>=', '==' <-> '!='
  logical      '&&' <-> '||'
  off-by-one   a '+ 1' or '- 1' dropped

Only binary operators written with a space on each side are taken, as the
formatter writes them, so '<<', '->', 'std::vector<int>', 'template <...>'
and '#include <x>' are never touched. Then it draws --count of these places
with --seed, and for each one in turn: makes the fault, rebuilds, runs ctest
(stopping at the first failure) and always puts the file back with
'git checkout'. A fault is "caught" when a test fails, "survived" when all
pass, and "no compile" when the build fails. It ends with a table (each
place as file:line:column of the operator, the failing tests of each caught
fault) and the share caught, and rebuilds the restored tree. The ctest log of
the run is left in DIR/mutation_sample.log. Stopped early (Ctrl-C or
SIGTERM), it puts the file back and gives the table of the faults tried.

With --sanitize, a fault that every test of the normal build survives is
built and tested once more in the sanitizer build (address and undefined
behaviour checks), as the test command does: a read past a buffer's end or an
overflow may change no output and still stop that build. Such a fault is
"caught (sanitizer)", and the figure is then the test command's.

Options:
  --seed N      seed of the draw (default 1)
  --count N     how many faults to try (default 40)
  --build DIR   a configured build directory (default: build)
  --exclude RE  ctest -E regex of tests left out of the run (default: the
                formatting check, which would fail on line length alone)
  --sanitize [DIR]  test the faults the normal build misses in this configured
                sanitizer build too (default DIR: build-sanitize)
  --only RE     draw only from the places in files whose path matches RE (a
                Python regex searched in the path), to go through one part
                of the sources closely; without it the draw over every place
                is the same for the same seed
  --list        only print every candidate place and their number

Run it from the root of a clean worktree; it refuses a dirty product file.
"""

import argparse
import os
import pathlib
import random
import re
import signal
import subprocess
import sys

ROOTS = ["crates/zem-package/src", "crates/zem-package/include", "crates/zem-format/src",
         "crates/zem-cli/src", "crates/zem-python/src"]

# (pattern, replacement, kind); each pattern matches the operator with its
# surrounding spaces in the masked code text.
SWAPS = {" < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ",
         " == ": " != ", " != ": " == ", " && ": " || ", " || ": " && "}
SWAP_RE = re.compile("|".join(re.escape(k) for k in sorted(SWAPS, key=len, reverse=True)))
# ' + 1' / ' - 1' as a whole number (also 1u, 1U, 1L...), not followed by an
# operator that binds tighter, which dropping would change in another way.
OFF_RE = re.compile(r" [+-] 1(?:[uUlLzZ]{0,3})(?![\w.'])(?!\s*[*/%])")


def product_files(root):
    for base in ROOTS:
        for path in sorted((root / base).rglob("*")):
            rel = path.relative_to(root)
            if path.suffix not in (".cpp", ".hpp") or path.name.endswith("_test.cpp"):
                continue
            if "testing" in rel.parts:
                continue
            yield rel


def masked_lines(text):
    """Yields each line with comments and string/char literals blanked out."""
    in_block = False
    for line in text.split("\n"):
        out = []
        i = 0
        if line.lstrip().startswith("#"):  # preprocessor lines are left alone
            yield " " * len(line)
            continue
        while i < len(line):
            c = line[i]
            if in_block:
                if line.startswith("*/", i):
                    in_block = False
                    out.append("  ")
                    i += 2
                else:
                    out.append(" ")
                    i += 1
            elif line.startswith("//", i):
                out.append(" " * (len(line) - i))
                break
            elif line.startswith("/*", i):
                in_block = True
                out.append("  ")
                i += 2
            elif c in "\"'" and not (c == "'" and i > 0 and line[i - 1].isalnum()):
                j = i + 1
                while j < len(line) and line[j] != c:
                    j += 2 if line[j] == "\\" else 1
                out.append(" " * (min(j, len(line) - 1) - i + 1))
                i = j + 1
            else:
                out.append(c)
                i += 1
        yield "".join(out)[: len(line)].ljust(len(line))


def sites(root):
    found = []
    for rel in product_files(root):
        text = (root / rel).read_text()
        for number, code in enumerate(masked_lines(text), start=1):
            for m in SWAP_RE.finditer(code):
                found.append((rel, number, m.start(), m.group(), SWAPS[m.group()]))
            for m in OFF_RE.finditer(code):
                found.append((rel, number, m.start(), m.group(), ""))
    return found


# The sanitizer build's tests run as the test command runs them: leaks
# reported, and the first undefined behaviour ends the test.
SANITIZER_ENV = {"ASAN_OPTIONS": "detect_leaks=1:abort_on_error=0",
                 "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1"}


def run(cmd, log, env=None):
    result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            env=None if env is None else {**os.environ, **env})
    log.write(f"$ {' '.join(cmd)}\n{result.stdout}\n")
    return result


def try_fault(root, build, sanitize, exclude, site, log):
    rel, number, col, old, new = site
    path = root / rel
    lines = path.read_text().split("\n")
    line = lines[number - 1]
    assert line[col : col + len(old)] == old
    lines[number - 1] = line[:col] + new + line[col + len(old) :]
    try:
        path.write_text("\n".join(lines))
        if run(["cmake", "--build", str(build)], log).returncode != 0:
            return "no compile", ""
        failed = failing_tests(build, exclude, log, None)
        if failed is not None:
            return "caught", failed
        # The sanitizer build compiles the same sources; had the fault not
        # compiled there, it would not have compiled above.
        if sanitize is not None and run(["cmake", "--build", str(sanitize)], log).returncode == 0:
            failed = failing_tests(sanitize, exclude, log, SANITIZER_ENV)
            if failed is not None:
                return "caught (sanitizer)", failed
        return "survived", ""
    finally:
        subprocess.run(["git", "-C", str(root), "checkout", "--", str(rel)], check=True)


def failing_tests(build, exclude, log, env):
    """Runs the build's tests up to the first failure; None when all pass."""
    ctest = ["ctest", "--test-dir", str(build), "-j2", "--stop-on-failure",
             "--timeout", "300", "-E", exclude]
    result = run(ctest, log, env)
    if result.returncode == 0:
        return None
    # ctest runs the tests that failed last time first, so more than one may
    # be listed; all are named.
    failed = re.findall(r"^\s*\d+ - (.+) \([^()]*\)$", result.stdout, re.MULTILINE)
    return ", ".join(failed) if failed else "?"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=40)
    parser.add_argument("--build", default="build")
    parser.add_argument("--exclude", default="^sources_are_formatted$")
    parser.add_argument("--sanitize", nargs="?", const="build-sanitize", default=None)
    parser.add_argument("--only", default=None)
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()

    root = pathlib.Path(subprocess.check_output(
        ["git", "rev-parse", "--show-toplevel"], text=True).strip())
    build = pathlib.Path(args.build).resolve()
    sanitize = pathlib.Path(args.sanitize).resolve() if args.sanitize else None
    every = sites(root)
    if args.only:
        pattern = re.compile(args.only)
        every = [site for site in every if pattern.search(str(site[0]))]
    if args.list:
        for rel, number, col, old, new in every:
            print(f"{rel}:{number}:{col + 2}  '{old.strip()}' -> '{new.strip()}'")
        print(f"{len(every)} places")
        return 0
    chosen = random.Random(args.seed).sample(every, min(args.count, len(every)))
    dirty = subprocess.run(["git", "-C", str(root), "diff", "--quiet", "--"]
                           + sorted({str(s[0]) for s in chosen}))
    if dirty.returncode != 0:
        sys.exit("a file to mutate has uncommitted changes; commit or stash them first")
    # SIGTERM ends the run like Ctrl-C does, so the file is still restored.
    signal.signal(signal.SIGTERM, signal.default_int_handler)

    rows = []
    with open(build / "mutation_sample.log", "w") as log:
        try:
            for i, site in enumerate(chosen, start=1):
                outcome, test = try_fault(root, build, sanitize, args.exclude, site, log)
                rel, number, col, old, new = site
                change = f"'{old.strip()}' -> '{new.strip()}'"
                rows.append((f"{rel}:{number}:{col + 2}", change, outcome, test))
                print(f"[{i}/{len(chosen)}] {rel}:{number}:{col + 2} {change}: {outcome} {test}",
                      flush=True)
        except KeyboardInterrupt:
            # Stopped early: the faults tried so far still get their table.
            print(f"\nstopped after {len(rows)} of {len(chosen)} faults", flush=True)
        finally:
            # Back to the restored sources.
            for tree in [build] + ([sanitize] if sanitize else []):
                run(["cmake", "--build", str(tree)], log)

    print(f"\n{'place':<60} {'change':<16} outcome (failing tests)")
    for place, change, outcome, test in rows:
        print(f"{place:<60} {change:<16} {outcome} {test}")
    normal = sum(r[2] == "caught" for r in rows)
    sanitizer = sum(r[2] == "caught (sanitizer)" for r in rows)
    caught = normal + sanitizer
    built = sum(r[2] != "no compile" for r in rows)
    only = f", {sanitizer} of them by the sanitizer build alone" if sanitize else ""
    print(f"\nseed {args.seed}: {caught} of {built} compiled faults caught"
          f" ({100 * caught / max(built, 1):.0f}%){only}, {len(rows) - built} did not compile")
    return 0


if __name__ == "__main__":
    sys.exit(main())
