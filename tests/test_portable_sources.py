"""Portable C++: every source of both modules compiles without a diagnostic as standard C++17.

GNU extensions (a character-pack string literal operator, __builtin_FILE)
build with GCC and Clang alone; MSVC refuses them. -Wpedantic names them.
"""

import os
import shutil
import subprocess
import sysconfig
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import nanobind
import pytest

pytestmark = pytest.mark.slow

ROOT = Path(__file__).resolve().parent.parent
SOURCES = sorted((ROOT / "src").rglob("*.cpp"))


def diagnostics(source):
    # As the module build compiles it: the stable ABI, and nanobind's hidden visibility.
    command = ["c++", "-std=c++17", "-Wall", "-Wextra", "-Wpedantic", "-Werror", "-fsyntax-only",
               "-fvisibility=hidden", "-DPy_LIMITED_API=0x030C0000",
               "-isystem", nanobind.include_dir(), "-isystem", sysconfig.get_paths()["include"],
               "-I", str(ROOT / "src/native"), str(source)]
    result = subprocess.run(command, capture_output=True, text=True, timeout=600)
    return f"{source.relative_to(ROOT)}:\n{result.stderr}" if result.returncode or result.stderr else ""


@pytest.mark.skipif(shutil.which("c++") is None, reason="no C++ compiler")
def test_every_source_compiles_cleanly_as_pedantic_cxx17():
    assert len(SOURCES) >= 15
    with ThreadPoolExecutor(os.cpu_count()) as pool:
        found = [text for text in pool.map(diagnostics, SOURCES) if text]
    assert not found, "\n".join(found)
