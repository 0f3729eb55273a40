"""Installs the hsim package: pip install ./python (see README.md).

Only setup.py, no pyproject.toml: pip then builds in place with the installed
setuptools and never reaches for a package index. Set HSIM_BUNDLE to a build
directory to copy libhsim.so, libhsimrecords.so and hsim-emu into the package,
where it finds them first.
"""
import os
import shutil
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py


class BuildWithLibraries(build_py):
    def run(self):
        super().run()
        bundle = os.environ.get("HSIM_BUNDLE")
        if bundle:
            target = Path(self.build_lib) / "hsim"
            for relative in ("libhsim.so", "records/libhsimrecords.so", "emulator/hsim-emu"):
                source = Path(bundle) / relative
                if source.exists():
                    shutil.copy2(source.resolve(), target / source.name)


setup(
    name="hsim",
    version="1.0.5",
    description="Python interface of libhsim, the host-side control library of the USB ECG"
                " patient simulator",
    packages=["hsim"],
    python_requires=">=3.9",
    install_requires=["numpy"],
    extras_require={"plot": ["matplotlib"]},
    cmdclass={"build_py": BuildWithLibraries},
)
