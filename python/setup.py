"""Installs the hsim package: pip install ./python (see README.md).

Only setup.py, no pyproject.toml: pip then builds in place with the installed
setuptools and never reaches for a package index. Set HSIM_BUNDLE to a build
directory to copy libhsim.so, libhsimrecords.so and hsim-emu into the package,
where it finds them first.

The package's version is the library's, from its one source, the project()
line of ../CMakeLists.txt; it is written into the package as hsim/_version.py.
"""
import os
import re
import shutil
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

CMAKE_LISTS = Path(__file__).resolve().parent.parent / "CMakeLists.txt"


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


class BuildWithLibraries(build_py):
    def run(self):
        super().run()
        target = Path(self.build_lib) / "hsim"
        (target / "_version.py").write_text(
            f"# Written by setup.py from {CMAKE_LISTS.name}; the library's version.\nversion = {VERSION!r}\n")
        bundle = os.environ.get("HSIM_BUNDLE")
        if bundle:
            for relative in ("libhsim.so", "records/libhsimrecords.so", "emulator/hsim-emu"):
                source = Path(bundle) / relative
                if source.exists():
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
)
