"""Builds the module tarnok._tarnok with the project's CMake build (its compile
flags, the same libraries as the console program) and puts it in the package.

TARNOK_CMAKE_ARGS adds arguments to the configure step (for example
"-DTARNOK_WERROR=ON -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"); TARNOK_BUILD_JOBS sets
the build's parallel jobs (default 2)."""

import os
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        root = Path(__file__).parent.resolve()
        build = Path(self.build_temp).resolve() / "cmake"
        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        configure = ["cmake", "-S", str(root), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                     "-DTARNOK_PYTHON=ON", "-DTARNOK_TESTS=OFF", f"-DPython3_EXECUTABLE={sys.executable}"]
        configure += shlex.split(os.environ.get("TARNOK_CMAKE_ARGS", ""))
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "_tarnok", "-j",
                        os.environ.get("TARNOK_BUILD_JOBS", "2")], check=True)
        built = next((build / "python").glob("_tarnok*" + Path(target).suffix))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(ext_modules=[CMakeExtension("tarnok._tarnok")], cmdclass={"build_ext": CMakeBuild})
