#!/usr/bin/env python3
"""check_windows_sources.py <source dir> <build dir>

Compiles, syntax only, every source of the programs that a Windows build
would compile, with the MinGW-w64 cross compiler and Windows' own headers:
the entries of <build dir>/compile_commands.json outside tests/, bench/,
tools/ and the build's generated files, each *_unix.cpp replaced by its
*_win.cpp twin with the same flags (the include folders of moc's output
among them).
Qt's headers are those of this machine's build; under the compiler's
Windows macros they take their Windows branches (Q_OS_WIN), as the
program's own *_win.cpp files do.

Prints how many sources it checked. Fails, with the compiler's messages,
when a source does not compile or draws a warning (the build's own -Wall
-Wextra; Qt's headers are system headers and draw none), and fails, never
skips, when the compiler is missing. A source the compiler would see exactly as at a run where it
passed (the same text after the preprocessor, flags and compiler) is not
compiled again: <build dir>/windows-sources-passed keeps their digests.
COMMCHECK_MINGW_CXX names another compiler.
"""

import concurrent.futures
import hashlib
import json
import os
import shlex
import shutil
import subprocess
import sys

# The POSIX thread model, as Qt's own MinGW toolchains use: the program's
# std::thread (FontWarmUp) has no <thread> in GCC 12's win32 model.
COMPILER = os.environ.get("COMMCHECK_MINGW_CXX", "x86_64-w64-mingw32-g++-posix")
# Folders whose sources a Windows build of the programs leaves out: the tests
# and benchmarks stand on Linux pseudo-terminals and the generators on glibc.
NOT_BUILT = {"tests", "bench", "tools"}
# What each source is compiled with besides its own flags.
CHECK_FLAGS = ["-fsyntax-only", "-Werror"]
# Flags taking their value as the next argument, kept with it.
WITH_VALUE = {"-D", "-U", "-I", "-isystem", "-iquote", "-include"}


def windows_flags(arguments):
    """The preprocessor, language, optimisation and warning flags of one
    compile; the output, dependency, code generation and sanitizer flags,
    some of which MinGW does not know, left out."""
    kept = []
    it = iter(arguments[1:])
    for arg in it:
        if arg in WITH_VALUE:
            kept += [arg, next(it)]
        elif arg.startswith(("-D", "-U", "-I", "-isystem", "-iquote", "-std=", "-O")):
            kept.append(arg)
        elif arg.startswith("-W") and not arg.startswith("-Wl,"):
            kept.append(arg)
        elif arg in ("-o", "-MT", "-MF", "-MQ"):
            next(it)
    return kept


def folder_of(path, source_dir, build_dir):
    """The top folder of the source tree a source belongs to; None for a
    file the build generated (moc's output, which only repeats the
    headers the sources include) or one outside the tree."""
    for root, generated in ((build_dir, True), (source_dir, False)):
        rel = os.path.relpath(path, root)
        if not rel.startswith(".."):
            return None if generated else rel.split(os.sep)[0]
    return None


def windows_sources(source_dir, build_dir):
    """(source, flags) for every file a Windows build compiles."""
    with open(os.path.join(build_dir, "compile_commands.json"), encoding="utf-8") as f:
        entries = json.load(f)
    sources = []
    for entry in entries:
        path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
        folder = folder_of(path, source_dir, build_dir)
        if folder is None or folder in NOT_BUILT:
            continue
        if "arguments" in entry:
            arguments = entry["arguments"]
        else:
            arguments = shlex.split(entry["command"])
        # The compiler may come after a launcher such as ccache.
        while arguments and os.path.basename(arguments[0]) in ("ccache", "sccache"):
            arguments = arguments[1:]
        if path.endswith("_unix.cpp"):
            path = path[: -len("_unix.cpp")] + "_win.cpp"
            if not os.path.exists(path):
                raise SystemExit(f"FAIL: {path} missing: the Windows build has no twin to compile")
        sources.append((path, entry["directory"], windows_flags(arguments)))
    return sources


def compiler_identity():
    """The compiler's full version text, part of every fingerprint."""
    return subprocess.run(
        [COMPILER, "--version"], stdout=subprocess.PIPE, text=True, check=True
    ).stdout


def fingerprint(source, identity):
    """A digest of everything the compiler would see of one source: its
    text after the preprocessor (every header it includes, under Windows'
    macros), the flags and the compiler. None when it does not preprocess,
    which the compile then reports."""
    path, directory, flags = source
    run = subprocess.run(
        [COMPILER, "-E", *flags, path],
        cwd=directory,
        stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL,
    )
    if run.returncode != 0:
        return None
    digest = hashlib.sha256(identity.encode())
    digest.update("\0".join(CHECK_FLAGS + flags).encode())
    digest.update(run.stdout)
    return digest.hexdigest()


def check(source, identity, passed_before):
    """(path, fingerprint, exit status, compiler output); a source whose
    fingerprint passed before is not compiled again."""
    path, directory, flags = source
    mark = fingerprint(source, identity)
    if mark is not None and mark in passed_before:
        return path, mark, 0, None
    run = subprocess.run(
        [COMPILER, *CHECK_FLAGS, *flags, path],
        cwd=directory,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        text=True,
    )
    return path, mark, run.returncode, run.stdout


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    source_dir = os.path.realpath(sys.argv[1])
    build_dir = os.path.realpath(sys.argv[2])
    if shutil.which(COMPILER) is None:
        raise SystemExit(
            f"FAIL: {COMPILER} is not installed (scripts/install-deps.sh installs it)"
        )
    sources = windows_sources(source_dir, build_dir)
    if not sources:
        raise SystemExit(f"FAIL: no sources found in {build_dir}/compile_commands.json")
    windows_only = sum(1 for path, _, _ in sources if path.endswith("_win.cpp"))
    if windows_only == 0:
        raise SystemExit("FAIL: no *_unix.cpp in this build, so no *_win.cpp to check")

    # Fingerprints of the sources that passed at the last run, so that a
    # run after a small change compiles only what the change reaches.
    passed_file = os.path.join(build_dir, "windows-sources-passed")
    try:
        with open(passed_file, encoding="ascii") as f:
            passed_before = set(f.read().split())
    except FileNotFoundError:
        passed_before = set()
    identity = compiler_identity()

    failed = []
    passed = set()
    unchanged = 0
    jobs = int(os.environ.get("COMMCHECK_JOBS", "2"))
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        results = pool.map(lambda source: check(source, identity, passed_before), sources)
        for path, mark, status, output in results:
            if status != 0:
                failed.append(path)
                print(f"FAIL: {os.path.relpath(path, source_dir)}\n{output}", file=sys.stderr)
                continue
            if output is None:
                unchanged += 1
            elif output:
                print(output, end="")
            if mark is not None:
                passed.add(mark)
    with open(passed_file, "w", encoding="ascii") as f:
        f.write("".join(mark + "\n" for mark in sorted(passed)))

    print(
        f"{len(sources)} sources checked for Windows with {COMPILER} "
        f"({windows_only} of them *_win.cpp; {unchanged} unchanged since they "
        f"last passed, not compiled again), {len(failed)} failed"
    )
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
