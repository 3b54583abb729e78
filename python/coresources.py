"""The C++ sources compiled into the btwsandpile extension.

CMake and setup.py both ask this file, so the list is derived in one place:
the module's own bindings (python/src/*.cpp), and the sources that the
engine's and the measuring core's libraries name in their CMakeLists.txt,
less any file that includes a Qt header. The extension never links Qt.
"""

import pathlib
import re
import sys

# (folder, library) pairs whose sources the extension compiles.
LIBRARIES = (("engine", "sandpilemodel"), ("stats", "sandpilestats"))
QT_INCLUDE = re.compile(r"^\s*#\s*include\s*<Q", re.MULTILINE)


def library_sources(root, folder, library):
    """The .cpp files of add_library(<library> ...) in <folder>/CMakeLists.txt."""
    text = (root / folder / "CMakeLists.txt").read_text()
    match = re.search(r"add_library\(\s*" + library + r"\b([^)]*)\)", text)
    if match is None:
        raise RuntimeError(f"{folder}/CMakeLists.txt has no add_library({library} ...)")
    return [f"{folder}/{name}" for name in match.group(1).split() if name.endswith(".cpp")]


def module_sources(root):
    """Every source of the extension, relative to the source tree's root."""
    root = pathlib.Path(root)
    own = sorted(str(path.relative_to(root)) for path in (root / "python" / "src").glob("*.cpp"))
    core = [source for folder, library in LIBRARIES for source in library_sources(root, folder, library)
            if not QT_INCLUDE.search((root / source).read_text())]
    return own + core


if __name__ == "__main__":
    # For CMake: the sources as a list, given the root.
    print(";".join(module_sources(sys.argv[1])))
