#!/usr/bin/env python3
"""The README's setup works from a fresh clone, as its own commands leave it.

- .ci/run installs every package of the README's apt-get lines but the benchmark
  library (CI builds no benchmark), and nothing the README does not name;
- the build/NAME/ paths the README uses (before "## Performance") are those of the
  preset its first command builds, or of one a command before them builds;
- nothing points outside the clone (../).
usage: check_setup_docs.py SOURCE_DIR"""
import json
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
readme = (root / "README.md").read_text()
ci = (root / ".ci" / "run").read_text()
presets = json.loads((root / "CMakePresets.json").read_text())
failures = []

# The apt-get lines, a trailing backslash continuing one.
apt = re.findall(r"^apt-get install ((?:[^\n]*\\\n)*[^\n]*)", readme, re.M)
readme_packages = set()
for line in apt:
    readme_packages |= {w for w in re.sub(r"#.*", "", line.replace("\\\n", " ")).split()}
listed = re.search(r"^packages=\(([^)]*)\)", ci, re.M)
if not listed:
    failures.append(".ci/run has no packages=(...) list to install")
ci_packages = set(listed.group(1).split()) if listed else set()
only_for_bench = {"libbenchmark-dev"}
for package in sorted(readme_packages - ci_packages - only_for_bench):
    failures.append(f"README names {package}, which .ci/run does not install")
for package in sorted(ci_packages - readme_packages):
    failures.append(f".ci/run installs {package}, which README's apt-get lines do not name")
if not apt or "libssl-dev" not in apt[0]:
    failures.append("README's first apt-get line lacks libssl-dev")

dirs = {p["name"]: p["binaryDir"].replace("${sourceDir}/", "")
        for p in presets["configurePresets"] if "binaryDir" in p}
# The first command of the quick start builds one preset; a path of another preset's
# build works only after a command of the README has built that one.
first = re.search(r"cmake --preset (\w+)", readme).group(1)
for used in re.finditer(r"\bbuild/(\w+)/", readme.split("## Performance")[0]):
    preset = next((name for name, d in dirs.items() if d == f"build/{used.group(1)}"), None)
    if preset is None:
        failures.append(f"README uses {used.group(0)}, which no preset builds")
    elif preset != first and not re.search(rf"cmake --preset {preset}\b",
                                           readme[:used.start()]):
        failures.append(f"README uses {used.group(0)} before any of its commands builds it")
if "../" in re.sub(r"\]\([^)]*\)", "", readme):
    failures.append("README points outside the clone (../)")

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
