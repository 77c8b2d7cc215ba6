# pip's door to the CMake build; the work is in python/setup_build.py.
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "python"))
from setup_build import setup_arguments  # noqa: E402

from setuptools import setup  # noqa: E402

setup(**setup_arguments())
