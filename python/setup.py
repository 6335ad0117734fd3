"""Builds korvelan._korvelan: the binding (src/) with the library's sources
compiled in, so that `pip install ./python` needs nothing of the CMake build.

The sources and their flags come from cmake/package-sources.txt, the list
the R package is made from too. In a checkout they are read in place; an
sdist carries a copy of them under _library/, made when the sdist is.
"""

from __future__ import annotations

import atexit
import re
import shutil
import tempfile
from pathlib import Path

from pybind11 import get_include
from pybind11.setup_helpers import ParallelCompile
from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.sdist import sdist

HERE = Path(__file__).resolve().parent
VENDORED = "_library"
MANIFEST = "cmake/package-sources.txt"


def library_root() -> Path:
    for root in (HERE / VENDORED, HERE.parent):
        if (root / MANIFEST).is_file():
            return root
    raise SystemExit(f"setup.py: no {MANIFEST}: the library's sources are neither in "
                     f"{HERE / VENDORED} (an sdist) nor around {HERE} (a checkout)")


def read_manifest(root: Path) -> tuple[list[str], list[str]]:
    """(compile flags, library sources relative to root)."""
    path = root / MANIFEST
    flags: list[str] = []
    sources: list[str] = []
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        key, _, value = line.partition(" ")
        if key in ("flags", "pic"):
            flags += value.split()
        elif key == "source":
            sources.append(value.strip())
        elif key != "omit":
            raise SystemExit(f"{path}:{number}: unknown entry {key!r}")
    return flags, sources


def project_version(root: Path) -> str:
    if (root / "VERSION").is_file():
        return (root / "VERSION").read_text(encoding="utf-8").strip()
    text = (root / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"^project\(korvelan VERSION (\d+)\.(\d+)\.(\d+)", text, re.M)
    if not found:
        raise SystemExit(f"setup.py: no project(korvelan VERSION x.y.z) in {root}/CMakeLists.txt")
    return ".".join(found.groups())


def vendored_files(root: Path) -> list[str]:
    """What an sdist must carry to compile without the checkout: the list,
    the listed sources, every header of their folders and the public ones."""
    _, sources = read_manifest(root)
    folders = sorted({str(Path(s).parent) for s in sources} | {"include/korvelan"})
    headers = [str(h.relative_to(root)) for folder in folders
               for h in sorted((root / folder).glob("*.h"))]
    return [MANIFEST, "include/korvelan/version.h.in", *sources, *headers]


def write_version_header(root: Path, into: Path) -> None:
    version = project_version(root)
    text = (root / "include/korvelan/version.h.in").read_text(encoding="utf-8")
    text = text.replace("@PROJECT_VERSION@", version)
    for part, number in zip(("MAJOR", "MINOR", "PATCH"), version.split(".")):
        text = text.replace(f"@PROJECT_VERSION_{part}@", number)
    into.mkdir(parents=True, exist_ok=True)
    (into / "version.h").write_text(text, encoding="utf-8")


# The interpreter's own compile flags that the Release build does not have:
# its -O2 and -g (ours come later, but -g would still fill the module with
# debugging data) and -fwrapv, which defines signed overflow for C code the
# library never relies on and keeps the optimiser from some loop forms.
DROPPED_FLAGS = re.compile(r"-O\w*|-g\d?|-fwrapv")


class BuildExt(build_ext):
    def build_extensions(self) -> None:
        self.compiler.compiler_so = [f for f in self.compiler.compiler_so
                                     if not DROPPED_FLAGS.fullmatch(f)]
        super().build_extensions()

    def build_extension(self, ext: Extension) -> None:
        # The library's sources join the extension only here, so that the
        # sdist's file list (made from ext.sources) holds the binding alone
        # and the library goes in as _library/.
        root = library_root()
        flags, sources = read_manifest(root)
        generated = Path(self.build_temp).resolve() / "generated"
        write_version_header(root, generated / "korvelan")
        ext.sources = ext.sources + [str(root / s) for s in sources]
        ext.include_dirs = ext.include_dirs + [str(root), str(root / "include"), str(generated)]
        ext.extra_compile_args = ext.extra_compile_args + flags
        super().build_extension(ext)


class Sdist(sdist):
    def make_release_tree(self, base_dir: str, files: list[str]) -> None:
        super().make_release_tree(base_dir, files)
        root = library_root()
        target = Path(base_dir) / VENDORED
        for name in vendored_files(root):
            (target / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(root / name, target / name)
        (target / "VERSION").write_text(project_version(root) + "\n", encoding="utf-8")


def scratch_directory() -> str:
    """A build directory of its own for every build, removed at the end:
    nothing is left in the checkout, and no object of an earlier build is
    reused (setuptools would reuse one whose source is older, even when a
    header it includes changed since)."""
    where = tempfile.mkdtemp(prefix="korvelan-build-")
    atexit.register(shutil.rmtree, where, True)
    return where


# One compiler per core (KORVELAN_BUILD_JOBS=N sets another count).
ParallelCompile("KORVELAN_BUILD_JOBS").install()

setup(
    version=project_version(library_root()),
    ext_modules=[Extension(
        "korvelan._korvelan",
        sources=["src/module.cc", "src/convert.cc"],
        include_dirs=[str(HERE), get_include()],
        language="c++",
        extra_compile_args=["-std=c++20", "-fvisibility=hidden"],
        extra_link_args=["-pthread"],
    )],
    cmdclass={"build_ext": BuildExt, "sdist": Sdist},
    options={"build": {"build_base": scratch_directory()},
             "egg_info": {"egg_base": scratch_directory()}},
)
