# SPDX-License-Identifier: GPL-2.0-or-later
"""vcpkg.json and CMakePresets.json, which only Visual Studio on Windows uses, against the CMake
files. Run by CTest: windows_build_files_test.py SOURCE_DIR CMAKE"""
import json
import os
import re
import subprocess
import sys

ROOT, CMAKE = os.path.abspath(sys.argv[1]), sys.argv[2]
# The ports (port[feature]) that give each package. curl's SMTP is not among its HTTP features.
PORTS = {"ZLIB": "zlib", "fmt": "fmt", "nlohmann_json": "nlohmann-json",
         "tomlplusplus": "tomlplusplus", "GTest": "gtest",
         "CURL": "curl curl[non-http]", "benchmark": "benchmark", "Qt6": "qtbase",
         "Qt6 Widgets": "qtbase[widgets]", "Qt6 Test": "qtbase[testlib]", "Qt6 Svg": "qtsvg"}
problems = []


def calls(text):
    text = re.sub(r'("(?:\\.|[^"\\])*")|#[^\n]*', lambda m: m[1] or "", text)  # no comments
    return [(m[1].lower(), m[2].split())
            for m in re.finditer(r"^[ \t]*(\w+)[ \t]*\(((?:[^()]|\([^()]*\))*)\)", text, re.M)]


def read(*path):
    with open(os.path.join(ROOT, *path), encoding="utf-8") as f:
        return f.read()


# The packages a native Windows configure may look for: cmake/Dependencies.cmake less its cross
# and Linux branches, and every other CMake file but those added only where NOT WIN32.
head, chain = read("cmake", "Dependencies.cmake").split("\nif(CMAKE_CROSSCOMPILING)\n")
windows = chain.split("\nelseif(WIN32)\n")[1].split("\nelse()\n")[0] + chain.split("\nendif()")[-1]
found = [args for name, args in calls(head + windows) if name == "find_package"]
not_windows = re.findall(r"\nif\([^)]*\bNOT WIN32\b[^)]*\)\n *add_subdirectory\((\w+)\)",
                         read("CMakeLists.txt"))
declared = set()  # cache variables
for folder, folders, files in os.walk(ROOT):
    folders[:] = [d for d in folders if not d.startswith((".", "build"))]
    for file in (f for f in files if f == "CMakeLists.txt" or f.endswith(".cmake")):
        path = os.path.relpath(os.path.join(folder, file), ROOT)
        for name, args in calls(read(path)):
            if name in ("option", "find_program") or (name == "set" and "CACHE" in args):
                declared.add(args[0])
            elif name == "find_package" and path != os.path.join("cmake", "Dependencies.cmake") \
                    and path.split(os.sep)[0] not in not_windows:
                found.append(args)

# 1. Each has its port in vcpkg.json, Qt's by component.
ports = set()
for dep in json.loads(read("vcpkg.json"))["dependencies"]:
    dep = {"name": dep} if isinstance(dep, str) else dep
    ports |= {dep["name"]} | {f"{dep['name']}[{x}]" for x in dep.get("features", [])}
if not {"ZLIB", "Qt6"} <= {args[0] for args in found}:
    problems.append(f"the native Windows branch of cmake/Dependencies.cmake was not found: {found}")
for args in found:
    components = [a for a in args[1:] if a[:1].isupper() and not a.isupper()]  # not REQUIRED
    for key in [args[0]] + [f"Qt6 {c}" for c in components if args[0] == "Qt6"]:
        for port in PORTS[key].split() if key in PORTS else [f"port (none known for {key})"]:
            if port not in ports:
                problems.append(f"find_package({' '.join(args)}): vcpkg.json has no {port}")

# 2. The presets' toolchain files exist, and so do their RAIDGUI_ cache variables. (CMake itself
# rejects an unknown inherits or configurePreset, in 3.)
for preset in json.loads(read("CMakePresets.json"))["configurePresets"]:
    toolchain = preset.get("toolchainFile", "$env{VCPKG_ROOT}/scripts/buildsystems/vcpkg.cmake")
    if toolchain != "$env{VCPKG_ROOT}/scripts/buildsystems/vcpkg.cmake" and not os.path.isfile(
            os.path.join(ROOT, toolchain.replace("${sourceDir}", ROOT))):
        problems.append(f"{preset['name']}: no toolchain file {toolchain}")
    for variable in preset.get("cacheVariables", {}):
        if variable.startswith("RAIDGUI_") and variable not in declared:
            problems.append(f"{preset['name']}: no CMake file declares {variable}")

# 3. This machine's CMake reads every preset.
listed = subprocess.run([CMAKE, "--list-presets=all"], cwd=ROOT, capture_output=True, text=True)
if listed.returncode != 0 or '"linux"' not in listed.stdout:
    problems.append(f"cmake --list-presets: {listed.stderr.strip()}")

print("\n".join(problems) or "vcpkg.json and CMakePresets.json agree with the CMake files")
sys.exit(1 if problems else 0)
