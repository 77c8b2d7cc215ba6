"""setup.py's glue: pip builds the package record_scan with CMake.

build_ext configures the project (tests off, for the interpreter running
pip) in build/pip-<version>/, builds the module's target alone and copies
the package as python/CMakeLists.txt assembles it, extension and pure files,
into the wheel's tree: sources and flags are CMake's alone. The version is
the project's.
"""

import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension
from setuptools.command.build_ext import build_ext

source_dir = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def project_version():
    with open(os.path.join(source_dir, "CMakeLists.txt"), encoding="utf-8") as lists:
        found = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", lists.read())
    if not found:
        sys.exit("setup.py: no project VERSION in CMakeLists.txt")
    return found.group(1)


class CMakeExtension(Extension):
    """The extension record_scan._core, made by CMake's target record_scan_python."""

    def __init__(self):
        super().__init__("record_scan._core", sources=[])


class BuildWithCMake(build_ext):
    def run(self):
        build_dir = os.path.join(source_dir, "build", "pip-%d.%d" % sys.version_info[:2])
        configure = ["cmake", "-S", source_dir, "-B", build_dir,
                     "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
                     "-DPython3_EXECUTABLE=" + sys.executable]
        if shutil.which("ninja") and not os.environ.get("CMAKE_GENERATOR"):
            configure += ["-G", "Ninja"]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", build_dir, "--target", "record_scan_python",
                        "--parallel", jobs], check=True)

        built = os.path.join(build_dir, "python", "record_scan")
        if not os.path.exists(os.path.join(built, "__init__.py")):
            sys.exit("setup.py: CMake built no module record_scan (its configure output says why)")
        target = os.path.join(self.build_lib, "record_scan")
        os.makedirs(target, exist_ok=True)
        for name in os.listdir(built):
            if os.path.isfile(os.path.join(built, name)):
                shutil.copy2(os.path.join(built, name), target)


def setup_arguments():
    return dict(
        version=project_version(),
        ext_modules=[CMakeExtension()],
        cmdclass={"build_ext": BuildWithCMake},
        packages=[],
        zip_safe=False,
    )
