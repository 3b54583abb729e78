"""pip install from the source tree into a fresh virtual environment, with
no package index: Debian's setuptools, pybind11 and NumPy serve. Compiles
the module, so it takes a minute or more."""

import os
import pathlib
import shutil
import subprocess
import sys

from conftest import needed_libraries, reference_drops

SOURCE = pathlib.Path(os.environ.get("SANDPILE_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
# What `pip install .` reads; the build writes into the tree, so it gets a copy.
PACKAGE_FILES = ["engine", "cli", "palette", "stats", "pile", "python", "pyproject.toml", "setup.py", "README.md", "VERSION"]

CHECK = """
import btwsandpile as bs, numpy as np
pile = bs.Sandpile(16, seed=3)
records = pile.drop(5000)
print(bs._btwsandpile.__file__)
print(bs.__version__)
print(len(records), int(records["size"].sum()), bool(pile.burn().all()))
"""


def test_pip_install_into_a_fresh_virtual_environment(tmp_path):
    work = pathlib.Path(os.environ.get("SANDPILE_INSTALL_DIR", tmp_path))
    shutil.rmtree(work, ignore_errors=True)
    source = work / "source"
    for name in PACKAGE_FILES:
        if (SOURCE / name).is_dir():
            shutil.copytree(SOURCE / name, source / name, ignore=shutil.ignore_patterns("__pycache__", "*.egg-info"))
        else:
            shutil.copy2(SOURCE / name, source / name)
    venv = work / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    python = str(venv / "bin" / "python")
    subprocess.run([python, "-m", "pip", "install", "--quiet", "--no-index", "--no-build-isolation", str(source)],
                   check=True, cwd=work)

    checked = subprocess.run([python, "-c", CHECK], capture_output=True, text=True, check=True, cwd=work)
    module, version, counts = checked.stdout.splitlines()
    assert pathlib.Path(module).is_relative_to(venv)
    assert version == (SOURCE / "VERSION").read_text().strip()
    assert not [library for library in needed_libraries(module) if "Qt" in library]
    _, expected = reference_drops(16, 3, 5000)
    assert counts == f"{len(expected)} {sum(size for _, _, size, _, _ in expected)} True"
