#!/usr/bin/env python3
"""Checks the one-way layering of the sources.

A file of src/<layer>/ may include headers of its own layer and of the layers
below it only; third-party library headers only in src/platform/ (Qt only in
*/qt/ folders, GoogleTest only in tests/). Prints every offending include and
exits 1 when there is one.

Usage: layering_check.py <source dir>
"""
import pathlib
import re
import sys

# The project folders each layer may include from (its own included).
ALLOWED = {
    "platform": {"platform"},
    "common": {"common", "platform"},
    "layout": {"layout", "common", "platform"},
    "pdf": {"pdf", "layout", "common", "platform"},
    "delivery": {"delivery", "common", "platform"},
    "spool": {"spool", "pdf", "layout", "delivery", "common", "platform"},
    "setup": {"setup", "common", "platform"},
    "startup": {"startup", "setup", "spool", "pdf", "layout", "delivery", "common", "platform"},
}
QT_EXTRA = {"startup", "setup"}  # what a */qt/ front end may include besides its core

# Headers of the outside libraries: Qt (Q...), GoogleTest, qpdf, vmime, libharu,
# SimpleIni, libzip, poppler, zlib, libdeflate, FreeType, ZXing, nlohmann-json, libsystemd.
THIRD_PARTY = re.compile(
    r"^(Q[A-Za-z]*(/|$)|Qt[A-Za-z]*/|gtest/|gmock/|qpdf/|vmime/|hpdf|SimpleIni|zip\.h|zipconf|poppler|"
    r"zlib\.h|libdeflate|isa-l|ft2build|freetype|ZXing|zxing|nlohmann/|systemd/)")
QT = re.compile(r"^(Q[A-Za-z]*$|Qt[A-Za-z]*/)")
TEST_LIBS = re.compile(r"^(gtest|gmock)/")

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(rel: pathlib.PurePosixPath):
    parts = rel.parts
    return parts[1] if len(parts) > 2 else None


def check_file(path: pathlib.Path, rel: pathlib.PurePosixPath, problems: list):
    in_src = rel.parts[0] == "src"
    layer = layer_of(rel) if in_src else None
    is_qt = "qt" in rel.parts[:-1]
    for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
        m = INCLUDE.match(line)
        if not m:
            continue
        kind, name = m.groups()
        where = f"{rel}:{number}: #include {kind}{name}{'>' if kind == '<' else kind}"
        if kind == '"':
            target = name.split("/")[0] if "/" in name else None
            if not in_src or layer is None or target is None or target not in ALLOWED:
                continue
            allowed = set(ALLOWED.get(layer, ALLOWED["startup"]))
            if is_qt:
                allowed |= QT_EXTRA
            if target not in allowed:
                problems.append(f"{where}: layer {layer} includes {target}, a layer above it")
            elif "/qt/" in name and not is_qt:
                problems.append(f"{where}: the core includes a Qt front-end header")
            continue
        if not THIRD_PARTY.match(name):
            continue
        if in_src and layer == "platform":
            continue
        if QT.match(name) and is_qt:
            continue
        if TEST_LIBS.match(name) and rel.parts[0] == "tests":
            continue
        problems.append(f"{where}: third-party header outside src/platform/")


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    problems: list = []
    for top in ("src", "tests"):
        for path in sorted((root / top).rglob("*")):
            if path.suffix not in (".h", ".hpp", ".cpp", ".cc") or not path.is_file():
                continue
            rel = pathlib.PurePosixPath(path.relative_to(root).as_posix())
            check_file(path, rel, problems)
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} include(s) break the layering")
        return 1
    print("layering: every include goes to its own layer or one below it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
