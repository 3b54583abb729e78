"""sandpile-pile against NumPy and the module: every .npy header numpy.load
reads is read alike and every other refused in one line; each integer type
and byte order; signals at any moment; its memory estimates against the
peaks it reaches."""

import os
import pathlib
import re
import resource
import signal
import struct
import subprocess
import sys
import time

import numpy as np
import pytest

import btwsandpile as bs


@pytest.fixture
def pile_tool():
    """The sandpile-pile program of the same build (ctest names it)."""
    tool = os.environ.get("SANDPILE_PILE")
    if not tool or not pathlib.Path(tool).exists():
        pytest.skip("SANDPILE_PILE does not name the sandpile-pile program")
    return tool


def run(tool, *arguments):
    return subprocess.run([tool, *map(str, arguments)], capture_output=True, text=True)


def npy_bytes(header, data, version=1):
    text = (header + "\n").encode("latin1")
    length = struct.pack("<H", len(text)) if version == 1 else struct.pack("<I", len(text))
    return b"\x93NUMPY" + bytes([version, 0]) + length + text + data


def numpy_reads(path):
    try:
        return np.load(path)
    except Exception:   # noqa: BLE001 - any refusal counts
        return None


def assert_read_as_numpy_reads(tool, path, tmp_path):
    """The tool stabilises what numpy.load reads, or refuses what it refuses."""
    array = numpy_reads(path)
    out = tmp_path / "stable.npy"
    result = run(tool, "stabilise", path, "--heights", out)
    if array is not None and array.ndim == 2 and array.dtype.kind in "iub" and array.size > 0:
        assert result.returncode == 0, result.stderr
        expected = bs.stabilise(array.astype(np.int64))
        assert np.array_equal(np.load(out), expected.heights)
        assert f"grains: {expected.grains}\n" in result.stdout
        assert f"topplings: {expected.topplings}\n" in result.stdout
    else:
        assert result.returncode == 2 and result.stderr.count("\n") == 1, result.stderr
        assert not out.exists()


DATA = np.arange(1, 7, dtype="<u2").tobytes()
SPACES = " " * 9000

HEADERS = [
    "{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3), }",
    '{"descr": "<u2", "fortran_order": False, "shape": (2, 3)}',
    "{'descr': '>u2', 'descr': '<u2', 'fortran_order': False, 'shape': (2, 3)}",   # the last one counts
    "{'descr': '<u2', 'fortran_order': False, 'shape': (3, 2), 'shape': (2, 3)}",
    "{'descr': '<u2', 'fortran_order': True, 'fortran_order': False, 'shape': (2, 3)}",
    "{'descr': '<u2', 'fortran_order': False, 'fortran_order': True, 'shape': (2, 3)}",
    "[('descr', '<u2'), ('fortran_order', False), ('shape', (2, 3))]",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3)} and some text",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3), 'extra': 1}",
    "{'descr': '<u2', 'shape': (2, 3), 'note': \"'fortran_order': False\"}",
    "{'descr': '<u2', 'fortran_order': 1, 'shape': (2, 3)}",
    "{'descr': '<u2', 'fortran_order': false, 'shape': (2, 3)}",
    "{'descr': '<u2', # a comment\n 'fortran_order': False, 'shape': (2, 3)}",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (2," + SPACES + "3)}",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (0x2, 0o3)}",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3L)}",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (02, 3)}",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3.0)}",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3,)}",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (6,)}",
    "{'descr': '<' 'u2', 'fortran_order': False, 'shape': (2, 3)}",
    "{'descr': 'u2', 'fortran_order': False, 'shape': (2, 3)}",
    "{'descr': 'uint16', 'fortran_order': False, 'shape': (2, 3)}",
    "{'descr': '<f2', 'fortran_order': False, 'shape': (2, 3)}",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3)," + " " * 30000 + "}",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (1" + "0" * 900000 + ", 3)}",
    "{'descr': '<u2', 'fortran_order': False, 'shape': " + "(" * 5000 + "2, 3" + ")" * 5000 + "}",
    "{'descr': '<u2', 'fortran_order': False 'shape': (2, 3)}",
    "{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3)",
]


@pytest.mark.parametrize("header", HEADERS, ids=range(len(HEADERS)))
def test_headers_are_read_as_numpy_load_reads_them(pile_tool, tmp_path, header):
    path = tmp_path / "pile.npy"
    path.write_bytes(npy_bytes(header, DATA, version=1 if len(header) < 65000 else 2))
    assert_read_as_numpy_reads(pile_tool, path, tmp_path)


def test_a_side_below_zero_is_refused_though_numpy_reshapes_it(pile_tool, tmp_path):
    path = tmp_path / "pile.npy"
    path.write_bytes(npy_bytes("{'descr': '<u2', 'fortran_order': False, 'shape': (-2, 3)}", DATA))
    result = run(pile_tool, "stabilise", path)
    assert result.returncode == 2 and "its shape is below 0" in result.stderr


def test_a_file_version_numpy_does_not_know_is_refused(pile_tool, tmp_path):
    path = tmp_path / "pile.npy"
    path.write_bytes(npy_bytes("{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3)}", DATA)[:7] + b"\x01"
                     + npy_bytes("{'descr': '<u2', 'fortran_order': False, 'shape': (2, 3)}", DATA)[8:])
    assert_read_as_numpy_reads(pile_tool, path, tmp_path)


TYPES = ["i1", "u1", "b1", "i2", "u2", "i4", "u4", "i8", "u8"]


@pytest.mark.parametrize("order", ["<", ">", "="])
@pytest.mark.parametrize("kind", TYPES)
def test_every_integer_type_and_byte_order_is_read_as_numpy_reads_it(pile_tool, tmp_path, kind, order):
    rng = np.random.default_rng(TYPES.index(kind))
    # Heights whose bytes differ in either order, where the type holds them.
    top = {"i1": 100, "u1": 250, "b1": 1}.get(kind, 700)
    values = rng.integers(0, top + 1, size=(3, 5))
    for fortran in (False, True):
        array = np.asarray(values, dtype=order + kind)
        path = tmp_path / f"{kind}{fortran}.npy"
        np.save(path, np.asfortranarray(array) if fortran else array)
        assert np.load(path).dtype.byteorder in "<>|="
        assert_read_as_numpy_reads(pile_tool, path, tmp_path)


# --- Signals ------------------------------------------------------------------

@pytest.mark.parametrize("number", [signal.SIGINT, signal.SIGTERM, signal.SIGHUP])
def test_a_signal_at_any_moment_leaves_every_file_whole_or_none(pile_tool, tmp_path, number):
    png, heights = tmp_path / "pile.png", tmp_path / "pile.npy"
    for delay in (0.0, 0.05, 0.2, 0.5, 1.0):
        process = subprocess.Popen([pile_tool, "centre", "2^18", "--png", png, "--heights", heights],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        time.sleep(delay)
        process.send_signal(number)
        out, err = process.communicate()
        assert not [name for name in os.listdir(tmp_path) if name.endswith(".tmp")]
        if process.returncode == 0:   # done before the signal came
            assert png.stat().st_size > 0 and np.load(heights).shape[0] == np.load(heights).shape[1]
        else:
            # Killed outright when the signal came before the handler was in place.
            assert process.returncode == -number or (
                process.returncode == 128 + number and err == "sandpile-pile: interrupted; nothing written\n")
            assert not png.exists() and not heights.exists() and out == ""
        for path in (png, heights):
            path.unlink(missing_ok=True)


def test_ctrl_c_while_the_input_pipe_waits_for_a_writer_is_an_interruption(pile_tool, tmp_path):
    fifo = tmp_path / "pile.npy"
    os.mkfifo(fifo)
    process = subprocess.Popen([pile_tool, "stabilise", fifo], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wchan = pathlib.Path(f"/proc/{process.pid}/wchan")
    while wchan.read_text() != "wait_for_partner":   # blocked in opening the pipe
        time.sleep(0.01)
    process.send_signal(signal.SIGINT)
    _, err = process.communicate(timeout=60)
    assert process.returncode == 130 and err == "sandpile-pile: interrupted; nothing written\n"


# --- Memory -------------------------------------------------------------------

# Starts the command with an address-space limit and prints its exit code,
# its peak resident kilobytes and what it wrote. The child comes from this
# small interpreter, whose peak Linux counts in the child's.
LIMITED = "import os, resource, subprocess, sys; limit = int(sys.argv[1]); " \
          "child = subprocess.Popen(sys.argv[2:], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, " \
          "preexec_fn=lambda: limit and resource.setrlimit(resource.RLIMIT_AS, (limit, limit))); " \
          "out = child.stdout.read(); _, status, usage = os.wait4(child.pid, 0); " \
          "print(os.waitstatus_to_exitcode(status), usage.ru_maxrss); print(out, end='')"


def limited(command, limit=0):
    result = subprocess.run([sys.executable, "-S", "-c", LIMITED, str(limit), *map(str, command)],
                            capture_output=True, text=True, check=True)
    first, _, output = result.stdout.partition("\n")
    code, kilobytes = map(int, first.split())
    return code, int(kilobytes) * 1024, output


def test_an_address_space_limit_refuses_what_it_cannot_hold_in_one_line(pile_tool):
    code, _, output = limited([pile_tool, "identity", 32768], limit=2_000_000 * 1024)
    assert code == 1 and re.fullmatch(r"sandpile-pile: the pile needs about \d+ MB of memory and \d+ MB is available\n",
                                      output), output
    python = [sys.executable, "-c", "import btwsandpile as bs, numpy as np\n"
              "for call in (lambda: bs.identity(32768), lambda: bs.stabilise(np.zeros((16384, 16384), np.uint8))):\n"
              "    try: call()\n"
              "    except MemoryError as error: print(error)"]
    code, peak, output = limited(python, limit=2_000_000 * 1024)
    lines = output.splitlines()
    assert code == 0 and len(lines) == 2 and all("MB is available" in line for line in lines), output
    # Refused before the heights were copied (2 GB as int64).
    assert peak < 500e6


def estimate_and_peak(tool, *arguments):
    code, peak, output = limited([tool, *arguments])
    assert code == 0, output
    return int(re.search(r"memory estimated: (\d+) MB", output).group(1)) * 1e6, peak


@pytest.mark.parametrize("small, large", [(["identity", 1024], ["identity", 2048]),
                                          (["centre", "2^17"], ["centre", "2^21"])])
def test_memory_estimates_are_within_a_fifth_of_the_peaks(pile_tool, small, large):
    # Two piles, so that the program's own memory cancels.
    (estimate_small, peak_small), (estimate_large, peak_large) = (estimate_and_peak(pile_tool, *a) for a in (small, large))
    estimated, measured = estimate_large - estimate_small, peak_large - peak_small
    assert 0.8 * measured < estimated < 1.2 * measured, (estimated, measured)
