"""The mutation run: plants each fault of the catalogue (scripts/mutation_catalogue.py)
alone in a copy of the tree, rebuilds incrementally, and runs the C++ suites
and the Python suite against it. A mutant is killed when a test fails (or the
tests hang); it survives when every test passes. The run prints each
mutant's fate, the score and every survivor with its diff, and exits
non-zero when a mutant that is not documented as equivalent survives, or
when a fault no longer applies (its anchor text is gone or not unique) or
no longer builds: a catalogue that has drifted from the code is reported,
never silently skipped.

    python scripts/mutation.py                 # every mutant (about 24 minutes)
    python scripts/mutation.py --ci            # the subset CI runs
    python scripts/mutation.py --only ID ...   # chosen mutants
    python scripts/mutation.py --list          # the catalogue and its anchors, without running
    python scripts/mutation.py --catalogue F   # the faults of another catalogue file

It needs what scripts/test.sh installs: GoogleTest, and an interpreter with
cmake, ninja, pytest, hypothesis and numpy (by default build/venv-3.12). The
Python suite runs in its fast form: the Dask tests left out, the leak loops
scaled down, hypothesis derandomized so that a fate does not depend on luck.
"""
import argparse
import difflib
import importlib.util
import os
import re
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "scripts"))
import mutation_catalogue  # noqa: E402

BUILD_TIMEOUT = 600
CTEST_TIMEOUT = 300
PYTEST_TIMEOUT = 900


def tracked_files():
    listing = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                             cwd=ROOT, check=True, capture_output=True).stdout
    return [name for name in listing.decode().split("\0") if name and (ROOT / name).is_file()]


def sync_tree(tree):
    """Copies the working tree's files into `tree`, leaving unchanged files
    (and so their modification times) alone, for incremental builds."""
    for name in tracked_files():
        source, target = ROOT / name, tree / name
        data = source.read_bytes()
        if not target.is_file() or target.read_bytes() != data:
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)


def anchor_problem(mutant, text):
    """None when the mutant's anchor occurs exactly once in `text`, else what is wrong."""
    occurrences = text.count(mutant.anchor)
    if occurrences == 1:
        return None
    return "anchor missing" if occurrences == 0 else f"anchor found {occurrences} times"


def load_catalogue(path):
    """The CATALOGUE of another file: faults held out of the repository's
    catalogue, to see whether the tests catch faults nobody aimed them at."""
    spec = importlib.util.spec_from_file_location("held_out_catalogue", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.CATALOGUE


def catalogue_problems(catalogue, complete):
    """Mutants with duplicate ids, and for the repository's catalogue, files
    of src/ with neither a mutant nor a reason to have none."""
    problems = []
    mutated = {mutant.file for mutant in catalogue}
    for path in sorted((ROOT / "src").rglob("*")) if complete else []:
        name = path.relative_to(ROOT).as_posix()
        if path.is_file() and name not in mutated and name not in mutation_catalogue.WITHOUT_BEHAVIOUR:
            problems.append(f"{name}: no mutant, and no reason given in WITHOUT_BEHAVIOUR")
    ids = [mutant.id for mutant in catalogue]
    problems += [f"{ident}: id used twice" for ident in sorted({i for i in ids if ids.count(i) > 1})]
    return problems


class Runner:
    def __init__(self, python, work):
        self.python = Path(python)
        self.tools = self.python.parent
        self.work = work
        self.tree = work / "tree"
        self.build = work / "build"

    def prepare(self):
        self.tree.mkdir(parents=True, exist_ok=True)
        sync_tree(self.tree)
        # An integer division by zero traps: the optimiser may fold such a
        # division away (a dropped guard before a walk of no elements), and
        # the fault would then go unseen in a plain release build.
        subprocess.run([self.tools / "cmake", "-S", self.tree, "-B", self.build, "-G", "Ninja",
                        f"-DCMAKE_MAKE_PROGRAM={self.tools / 'ninja'}", "-DCMAKE_BUILD_TYPE=Release",
                        "-DCMAKE_CXX_FLAGS=-fsanitize=integer-divide-by-zero -fsanitize-undefined-trap-on-error",
                        "-DVELARIX_BUILD_TESTS=ON", "-DVELARIX_BUILD_MODULE=ON",
                        f"-DPython_EXECUTABLE={self.python}"],
                       check=True, stdout=subprocess.DEVNULL)
        built = self.compile()
        if built is not None:
            sys.exit(f"the unmutated tree does not build:\n{built}")
        fate, detail = self.run_tests()
        if fate != "survived":
            sys.exit(f"the unmutated tree fails its tests ({fate}):\n{detail}")

    def compile(self):
        """None when the build succeeds, else its output."""
        result = subprocess.run([self.tools / "cmake", "--build", self.build], capture_output=True, text=True,
                                timeout=BUILD_TIMEOUT)
        return None if result.returncode == 0 else result.stdout[-3000:] + result.stderr[-2000:]

    def run_tests(self):
        """("survived", "") or ("killed", which test) or ("killed", "timeout ...")."""
        try:
            ctest = subprocess.run([self.tools / "ctest", "--test-dir", self.build, "-j2", "--stop-on-failure",
                                    "--timeout", "120", "--output-on-failure"],
                                   capture_output=True, text=True, timeout=CTEST_TIMEOUT)
        except subprocess.TimeoutExpired:
            return "killed", "ctest timed out"
        if ctest.returncode != 0:
            # ctest's closing list ("<tab> 42 - Suite.Name (Failed)"), else its progress lines.
            failed = (re.findall(r"^\s+\d+ - (\S+) \(", ctest.stdout, re.MULTILINE)
                      or re.findall(r"Test +#\d+: (\S+)[ .]*\*\*\*", ctest.stdout))
            return "killed", "ctest: " + (failed[0] if failed else f"exit code {ctest.returncode}")
        environment = dict(os.environ, PYTHONPATH=str(self.build), VELARIX_LEAK_CALLS="20000",
                           VELARIX_BATCH_HUGE="1000000", VELARIX_HYPOTHESIS_PROFILE="mutation")
        try:
            pytest = subprocess.run([self.python, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider",
                                     "-m", "not dask", "tests/python"],
                                    cwd=self.tree, env=environment, capture_output=True, text=True,
                                    timeout=PYTEST_TIMEOUT)
        except subprocess.TimeoutExpired:
            return "killed", "pytest timed out"
        if pytest.returncode != 0:
            failed = [line for line in pytest.stdout.splitlines() if line.startswith(("FAILED", "ERROR"))]
            return "killed", "pytest: " + (failed[0] if failed else f"exit code {pytest.returncode}")
        return "survived", ""

    def try_mutant(self, mutant):
        """(fate, detail, diff) with the tree restored afterwards."""
        path = self.tree / mutant.file
        original = path.read_text()
        problem = anchor_problem(mutant, original)
        if problem is not None:
            return problem, "", ""
        mutated = original.replace(mutant.anchor, mutant.replacement)
        diff = "".join(difflib.unified_diff(original.splitlines(True), mutated.splitlines(True),
                                            f"a/{mutant.file}", f"b/{mutant.file}", n=1))
        try:
            path.write_text(mutated)
            built = self.compile()
            if built is not None:
                return "does not build", built, diff
            fate, detail = self.run_tests()
            return fate, detail, diff
        finally:
            path.write_text(original)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--ci", action="store_true", help="only the mutants marked for CI")
    parser.add_argument("--only", nargs="+", metavar="ID", help="only these mutants")
    parser.add_argument("--list", action="store_true", help="list the catalogue and stop")
    parser.add_argument("--catalogue", metavar="FILE",
                        help="a Python file whose CATALOGUE (of mutation_catalogue.Mutant) replaces the repository's")
    parser.add_argument("--python", default=str(ROOT / "build" / "venv-3.12" / "bin" / "python"),
                        help="the interpreter with cmake, ninja, pytest, hypothesis and numpy")
    parser.add_argument("--work", default=str(ROOT / "build" / "mutation"), help="where the tree copy is built")
    options = parser.parse_args()

    catalogue = load_catalogue(options.catalogue) if options.catalogue else mutation_catalogue.CATALOGUE
    problems = catalogue_problems(catalogue, complete=not options.catalogue)
    for problem in problems:
        print(f"catalogue: {problem}")
    chosen = [m for m in catalogue if (not options.ci or m.ci) and (not options.only or m.id in options.only)]
    if options.only:
        unknown = set(options.only) - {m.id for m in catalogue}
        if unknown:
            sys.exit(f"no such mutant: {', '.join(sorted(unknown))}")
    if options.list:
        drifted = 0
        for mutant in chosen:
            problem = anchor_problem(mutant, (ROOT / mutant.file).read_text())
            marks = ("ci " if mutant.ci else "") + ("equivalent " if mutant.equivalent else "")
            if problem is not None:
                marks += problem.upper() + " "
                drifted += 1
            print(f"{mutant.id:28} {mutant.file:42} {marks}{mutant.fault}")
        print(f"{len(chosen)} mutants")
        return 1 if problems or drifted else 0

    runner = Runner(options.python, Path(options.work))
    started = time.monotonic()
    runner.prepare()
    print(f"unmutated tree built and passing ({time.monotonic() - started:.0f} s); {len(chosen)} mutants")
    results = []
    for number, mutant in enumerate(chosen, 1):
        began = time.monotonic()
        fate, detail, diff = runner.try_mutant(mutant)
        results.append((mutant, fate, detail, diff))
        shown = fate + (" (equivalent)" if mutant.equivalent and fate == "survived" else "")
        print(f"[{number:3}/{len(chosen)}] {mutant.id:28} {shown:24} {time.monotonic() - began:5.0f} s  "
              f"{detail.splitlines()[0] if fate == 'killed' and detail else ''}", flush=True)
    # One more build, so the work tree's objects match the restored sources.
    runner.compile()

    killed = [r for r in results if r[1] == "killed"]
    equivalent = [r for r in results if r[1] == "survived" and r[0].equivalent]
    survivors = [r for r in results if r[1] == "survived" and not r[0].equivalent]
    broken = [r for r in results if r[1] not in ("killed", "survived")]
    judged = len(killed) + len(survivors)
    print()
    print(f"killed {len(killed)} of {judged} non-equivalent mutants"
          f" ({100.0 * len(killed) / judged if judged else 100.0:.1f}%);"
          f" {len(equivalent)} equivalent survived as documented;"
          f" {len(broken)} could not be applied or built;"
          f" {time.monotonic() - started:.0f} s")
    for mutant, fate, detail, diff in [r for r in results if r[1] == "killed" and r[0].equivalent]:
        print(f"\nmarked equivalent but killed (its reason is wrong): {mutant.id}: {detail}")
    for mutant, fate, detail, diff in survivors:
        print(f"\nSURVIVED {mutant.id}: {mutant.fault}\n{diff}")
    for mutant, fate, detail, diff in broken:
        print(f"\n{fate.upper()}: {mutant.id} ({mutant.file})\n{detail[-1500:]}")
    failed = survivors or broken or problems or any(r[0].equivalent and r[1] == "killed" for r in results)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
