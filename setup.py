"""Builds btwsandpile for pip: the bindings, the engine and the measuring
core compiled into one extension, from the sources python/sources.txt lists
(CMake reads the same list), with the version VERSION holds. Needs a C++20
compiler, pybind11's headers (Debian's pybind11-dev, or the pybind11
package where the index can be reached) and libvips' (libvips-dev), found
by pkg-config. Neither Qt nor CLI11."""

import os
import pathlib
import subprocess

from setuptools import Extension, setup

ROOT = pathlib.Path(__file__).resolve().parent


def listed(path):
    """The lines of a list file that are neither blank nor comments."""
    lines = (line.strip() for line in (ROOT / path).read_text().splitlines())
    return [line for line in lines if line and not line.startswith("#")]


def pkg_config(*options):
    """What pkg-config says of libvips' C++ API and zlib, which write the zoom folder."""
    return subprocess.run(["pkg-config", *options, "vips-cpp", "zlib"], capture_output=True, text=True,
                          check=True).stdout.split()


def pybind11_includes():
    try:
        import pybind11
    except ImportError:
        return []   # pybind11-dev's headers are on the compiler's own path
    return [pybind11.get_include()]


extension = Extension(
    "btwsandpile._btwsandpile",
    sources=listed("python/sources.txt"),
    include_dirs=[".", "cli", "palette", "pile", "python/src", *pybind11_includes(),
                  *(flag[2:] for flag in pkg_config("--cflags-only-I"))],
    libraries=[flag[2:] for flag in pkg_config("--libs-only-l")],
    define_macros=[("SANDPILE_VERSION", '"' + listed("VERSION")[0] + '"')],
    extra_compile_args=["-std=c++20", "-fvisibility=hidden"],
    language="c++",
)

setup(
    ext_modules=[extension],
    # Beside, not inside, the CMake build folder `build`.
    options={"build": {"build_base": "build-pip"}, "build_ext": {"parallel": os.cpu_count() or 1}},
)
