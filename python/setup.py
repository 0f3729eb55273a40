"""Installs the hsim package: pip install ./python (see README.md).

Only setup.py, no pyproject.toml: pip then builds in place with the installed
setuptools and never reaches for a package index.

The package carries the binaries it needs, copied from a built tree:
libhsim.so, hsim-emu and, where it was built (it needs EDFlib),
libhsimrecords.so; the package finds them next to itself first. The tree is
../build (where README.md builds), or HSIM_BUNDLE: a build directory, taken
relative to the directory pip was started from. HSIM_BUNDLE=none installs the
Python code alone (the binaries are then found through HSIM_LIBRARY,
HSIM_RECORDS_LIBRARY, HSIM_EMULATOR, the linker's search path and PATH). A
tree without libhsim.so or hsim-emu stops the install with a message.

Every build starts in a fresh temporary directory, so nothing that an earlier
install left in python/build/ can reach the package.

The package's version is the library's, from its one source, the project()
line of ../CMakeLists.txt; it is written into the package as hsim/_version.py.
"""
import atexit
import os
import re
import shutil
import tempfile
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
CMAKE_LISTS = HERE.parent / "CMakeLists.txt"
DEFAULT_BUILD = HERE.parent / "build"

# Bundled from the built tree: (path in the tree, needed).
BINARIES = (("libhsim.so", True), ("emulator/hsim-emu", True), ("records/libhsimrecords.so", False))


def library_version() -> str:
    """major.minor.patch.build of project(hsim VERSION ...) in ../CMakeLists.txt."""
    try:
        text = CMAKE_LISTS.read_text()
    except OSError as error:
        raise SystemExit(f"setup.py: the library version comes from {CMAKE_LISTS}: {error}")
    match = re.search(r"^project\(hsim VERSION (\d+\.\d+\.\d+\.\d+)", text, re.MULTILINE)
    if match is None:
        raise SystemExit(f"setup.py: no 'project(hsim VERSION a.b.c.d' line in {CMAKE_LISTS}")
    return match.group(1)


VERSION = library_version()


def caller_directory() -> Path:
    """The directory pip was started from. pip runs this file in python/, as
    a child process; the parent's working directory is the caller's."""
    try:
        return Path(os.readlink(f"/proc/{os.getppid()}/cwd"))
    except OSError:
        return Path(os.environ.get("PWD") or os.getcwd())


def bundle_directory():
    """The built tree to copy the binaries from, or None (HSIM_BUNDLE=none)."""
    given = os.environ.get("HSIM_BUNDLE")
    if given is None or given == "":
        tree, origin = DEFAULT_BUILD, "the project's build directory"
    elif given == "none":
        return None
    else:
        tree, origin = caller_directory() / given, f"HSIM_BUNDLE={given}"
    tree = tree.resolve()
    missing = [relative for relative, needed in BINARIES
               if needed and not (tree / relative).is_file()]
    if not tree.is_dir() or missing:
        what = "does not exist" if not tree.is_dir() else "holds no " + " and no ".join(missing)
        raise SystemExit(
            f"setup.py: {tree} ({origin}) {what}. Build the project first"
            f" (cmake -S . -B build && cmake --build build), set HSIM_BUNDLE to a build directory"
            f" (taken from where pip runs), or HSIM_BUNDLE=none to install without binaries.")
    return tree


BUNDLE = bundle_directory()

# A fresh build directory for every run: a python/build/ left by an earlier
# install (old binaries in build/lib/hsim) is never looked at.
BUILD_BASE = tempfile.mkdtemp(prefix="hsim-setup-")
atexit.register(shutil.rmtree, BUILD_BASE, True)


class BuildWithLibraries(build_py):
    def run(self):
        super().run()
        target = Path(self.build_lib) / "hsim"
        (target / "_version.py").write_text(
            f"# Written by setup.py from {CMAKE_LISTS.name}; the library's version.\nversion = {VERSION!r}\n")
        if BUNDLE is None:
            return
        for relative, _ in BINARIES:
            source = BUNDLE / relative
            if source.is_file():
                shutil.copy2(source.resolve(), target / source.name)


setup(
    name="hsim",
    version=VERSION,
    description="Python interface of libhsim, the host-side control library of the USB ECG"
                " patient simulator",
    packages=["hsim"],
    python_requires=">=3.9",
    install_requires=["numpy"],
    extras_require={"plot": ["matplotlib"]},
    cmdclass={"build_py": BuildWithLibraries},
    options={"build": {"build_base": BUILD_BASE}, "egg_info": {"egg_base": BUILD_BASE}},
)
