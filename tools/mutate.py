#!/usr/bin/env python3
"""Plain mutation testing: applies one small fault at a time to the code,
rebuilds, runs the tests that should notice, and counts who caught what.

Each mutant in the list (default tools/mutants.txt) is one line:

    file | original text | replacement | tests   [# note]

`tests` is "unit" (every test but the end-to-end ones), "all", or a
ctest -R regex.

`file` is a path or a unique path suffix (so the list survives moves);
`original text` must occur exactly once in it. A mutant is killed when the
tests fail or time out, survives when they pass, and is stillborn when the
mutated code does not build. Every file is restored afterwards, also on
Ctrl-C.

    tools/mutate.py [-b BUILD] [-l LIST] [-k N[,N..]] [-j JOBS] [--timeout S]

BUILD must be configured already (default build-mut, configured on first
use like scripts/test.sh does). Exit status 0 when no mutant survived.
"""
import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def tracked_files():
    out = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True, text=True, check=True)
    return out.stdout.split()


def parse_list(path):
    mutants = []
    for lineno, raw in enumerate(open(path, encoding="utf-8"), 1):
        line = raw.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        note = ""
        if "  # " in line:
            line, note = line.split("  # ", 1)
        parts = [p.strip() for p in line.split(" | ")]
        if len(parts) != 4:
            sys.exit(f"{path}:{lineno}: want 'file | original | replacement | test regex'")
        mutants.append(dict(n=len(mutants) + 1, file=parts[0], old=parts[1], new=parts[2],
                            tests=parts[3], note=note.strip(), src=f"{path}:{lineno}"))
    return mutants


def resolve(name, files):
    hits = [f for f in files if f == name or f.endswith("/" + name)]
    return hits[0] if len(hits) == 1 else None


def run(cmd, timeout=None):
    try:
        p = subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, timeout=timeout)
        return p.returncode, p.stdout + p.stderr
    except subprocess.TimeoutExpired:
        return -1, "timed out"


def ensure_build(build, jobs):
    if not os.path.exists(os.path.join(ROOT, build, "CMakeCache.txt")):
        code, out = run(["cmake", "-S", ".", "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                         f"-DSERVO_BUS_DEVICE={os.path.join(ROOT, build, 'servoBus')}"])
        if code != 0:
            sys.exit(out)
    code, out = run(["cmake", "--build", build, f"-j{jobs}"])
    if code != 0:
        sys.exit("the unmutated tree does not build:\n" + out[-3000:])


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("-b", "--build", default="build-mut")
    ap.add_argument("-l", "--list", default=os.path.join(ROOT, "tools", "mutants.txt"))
    ap.add_argument("-k", "--only", default="", help="mutant numbers, e.g. 3,7")
    ap.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--timeout", type=int, default=600, help="seconds for one mutant's tests")
    args = ap.parse_args()

    files = tracked_files()
    mutants = parse_list(args.list)
    if args.only:
        keep = {int(x) for x in args.only.split(",")}
        mutants = [m for m in mutants if m["n"] in keep]
    ensure_build(args.build, args.jobs)

    results = {"killed": [], "survived": [], "stillborn": [], "stale": []}
    for m in mutants:
        path = resolve(m["file"], files)
        text = open(os.path.join(ROOT, path), encoding="utf-8").read() if path else ""
        if not path or text.count(m["old"]) != 1:
            results["stale"].append(m)
            print(f"#{m['n']:>3} stale     {m['file']}: original text not found exactly once ({m['src']})")
            continue
        full = os.path.join(ROOT, path)
        start = time.time()
        try:
            open(full, "w", encoding="utf-8").write(text.replace(m["old"], m["new"]))
            code, out = run(["cmake", "--build", args.build, f"-j{args.jobs}"])
            if code != 0:
                verdict = "stillborn"
            else:
                select = {"unit": ["-E", r"^e2e\."], "all": []}.get(m["tests"], ["-R", m["tests"]])
                code, out = run(["ctest", "--test-dir", args.build, *select, f"-j{args.jobs}",
                                 "--timeout", "300", "--no-tests=error"], timeout=args.timeout)
                verdict = "survived" if code == 0 else "killed"
        finally:
            open(full, "w", encoding="utf-8").write(text)
        results[verdict].append(m)
        caught = ""
        if verdict == "killed":
            failed = re.findall(r"^\s*\d+ - (\S+)", out, re.M)
            caught = " by " + ", ".join(failed[:3]) + (" ..." if len(failed) > 3 else "") if failed else ""
        print(f"#{m['n']:>3} {verdict:<9} {path}: {m['note'] or m['old'][:60]} ({time.time() - start:.0f} s){caught}",
              flush=True)
    # The restored sources must build again, so the tree is left as found.
    run(["cmake", "--build", args.build, f"-j{args.jobs}"])

    total = len(mutants) - len(results["stale"]) - len(results["stillborn"])
    print(f"\n{len(results['killed'])} of {total} mutants killed, {len(results['survived'])} survived"
          f" ({len(results['stillborn'])} stillborn, {len(results['stale'])} stale)")
    for m in results["survived"]:
        print(f"  survived #{m['n']}: {m['file']}: {m['note'] or m['old']}")
    return 0 if not results["survived"] else 1


if __name__ == "__main__":
    sys.exit(main())
