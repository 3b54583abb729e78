"""Builds btwsandpile for pip: the bindings, the engine and the measuring
core compiled into one extension (python/coresources.py names the sources,
for CMake too). Needs a C++20 compiler and pybind11's headers: Debian's
pybind11-dev, or the pybind11 package where the index can be reached."""

import os
import sys

from setuptools import Extension, setup

ROOT = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(ROOT, "python"))
from coresources import module_sources  # noqa: E402


def pybind11_includes():
    try:
        import pybind11
    except ImportError:
        return []   # pybind11-dev's headers are on the compiler's own path
    return [pybind11.get_include()]


extension = Extension(
    "btwsandpile._btwsandpile",
    sources=module_sources(ROOT),
    include_dirs=[".", "python/src", *pybind11_includes()],
    extra_compile_args=["-std=c++20", "-fvisibility=hidden"],
    language="c++",
)

setup(
    ext_modules=[extension],
    # Beside, not inside, the CMake build folder `build`.
    options={"build": {"build_base": "build-pip"}, "build_ext": {"parallel": os.cpu_count() or 1}},
)
