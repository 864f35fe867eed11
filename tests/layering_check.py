#!/usr/bin/env python3
"""Checks the one-way layering of the sources.

A file of src/<layer>/ may include headers of its own layer and of the layers
below it only; third-party library headers only in src/platform/ (Qt only in
*/qt/ folders, GoogleTest only in tests/, libharu only in the reference writer
under tests/support/reference_writer/). src/platform/ is three rooms:
platform/os at the bottom, platform/pdf and platform/mail above it, which
never include each other. Every include form counts: quotes
and angle brackets, paths relative to the including file ("../spool/scan.h"),
and every source or header kind (.h, .hpp, .inl, .ipp, .cpp, ...). An include
is resolved as the compiler does: a quoted name first beside the including
file, then below src/. Prints every offending include and exits 1 when there
is one.

Usage: layering_check.py <source dir>
"""
import os
import pathlib
import re
import sys

# The project folders each layer may include from (its own included).
ALLOWED = {
    "platform/os": {"platform/os"},
    "platform/pdf": {"platform/pdf", "platform/os"},
    "platform/mail": {"platform/mail", "platform/os"},
    "common": {"common", "platform"},
    "layout": {"layout", "common", "platform"},
    "pdf": {"pdf", "layout", "common", "platform"},
    "delivery": {"delivery", "common", "platform"},
    "spool": {"spool", "pdf", "layout", "delivery", "common", "platform"},
    "setup": {"setup", "common", "platform"},
    "startup": {"startup", "setup", "spool", "pdf", "layout", "delivery", "common", "platform"},
}
PLATFORM_ROOMS = {"platform/os", "platform/pdf", "platform/mail"}
for _layer, _allowed in ALLOWED.items():
    if "platform" in _allowed:  # a layer above platform may use each of its rooms
        _allowed.discard("platform")
        _allowed |= PLATFORM_ROOMS
QT_EXTRA = {"startup", "setup"}  # what a */qt/ front end may include besides its core

# The files looked at: C++ sources, headers and the inline parts of headers.
SUFFIXES = {".h", ".hh", ".hpp", ".hxx", ".inl", ".ipp", ".tpp", ".c", ".cc", ".cpp", ".cxx"}

# Headers of the outside libraries: Qt (Q...), GoogleTest, qpdf, vmime, libharu,
# SimpleIni, libzip, poppler, zlib, libdeflate, ISA-L, FreeType, ZXing,
# fontconfig, HarfBuzz, nlohmann-json, libsystemd.
THIRD_PARTY = re.compile(
    r"^(Q[A-Za-z]*(/|$)|Qt[A-Za-z]*/|gtest/|gmock/|qpdf/|vmime/|hpdf|SimpleIni|zip\.h|zipconf|poppler|"
    r"zlib\.h|libdeflate|isa-l|ft2build|freetype|ZXing|zxing|fontconfig/|hb\.h|hb-|harfbuzz/|nlohmann/|systemd/)")
QT = re.compile(r"^(Q[A-Za-z]*$|Qt[A-Za-z]*/)")
TEST_LIBS = re.compile(r"^(gtest|gmock)/")

DIRECTIVE = re.compile(r"^\s*#\s*include(?:_next)?\b\s*(.*)$")
NAMED = re.compile(r'^([<"])([^>"]+)[>"]')
BLOCK_COMMENT = re.compile(r"/\*.*?\*/", re.S)


def includes(text: str):
    """(line number, bracket, name) of each include; bracket is "" for a
    computed include (a macro), whose name is then the macro."""
    # Block comments are blanked line for line, so that line numbers stay.
    text = BLOCK_COMMENT.sub(lambda m: "\n" * m.group(0).count("\n"), text)
    for number, line in enumerate(text.splitlines(), 1):
        m = DIRECTIVE.match(line)
        if not m:
            continue
        rest = m.group(1).split("//")[0].strip()
        n = NAMED.match(rest)
        if n:
            yield number, n.group(1), n.group(2)
        elif rest:
            yield number, "", rest


def resolve(root: pathlib.Path, path: pathlib.Path, bracket: str, name: str):
    """The project file an include names, relative to root (None when it names
    none): a quoted name beside the including file first, then below src/;
    a name whose first folder is a layer counts as that layer's even when the
    file is missing."""
    candidates = []
    if bracket == '"':
        candidates.append(path.parent / name)
    candidates.append(root / "src" / name)
    for c in candidates:
        if c.is_file():
            full = pathlib.Path(os.path.normpath(c))
            try:
                return pathlib.PurePosixPath(full.relative_to(root).as_posix())
            except ValueError:
                return pathlib.PurePosixPath(full.as_posix())  # outside the tree
    parts = pathlib.PurePosixPath(name).parts
    if len(parts) > 1 and (parts[0] in ALLOWED or parts[0] == "platform"):
        return pathlib.PurePosixPath("src", *parts)
    return None


def layer_of(rel: pathlib.PurePosixPath):
    """The layer of a file below src/: its folder, or platform/<room> for
    the rooms of platform (a file directly in src/platform/ is in "platform",
    which no layer may include)."""
    parts = rel.parts
    if len(parts) > 3 and parts[0] == "src" and parts[1] == "platform":
        return "platform/" + parts[2]
    return parts[1] if len(parts) > 2 and parts[0] == "src" else None


REFERENCE_WRITER = ("tests", "support", "reference_writer")
HPDF = re.compile(r"^hpdf")


def check_file(root: pathlib.Path, path: pathlib.Path, rel: pathlib.PurePosixPath, problems: list):
    in_src = rel.parts[0] == "src"
    layer = layer_of(rel)
    is_qt = "qt" in rel.parts[:-1]
    text = path.read_text(encoding="utf-8", errors="replace")
    for number, bracket, name in includes(text):
        close = {"<": ">", '"': '"'}.get(bracket, "")
        where = f"{rel}:{number}: #include {bracket}{name}{close}"
        if not bracket:
            # A macro names the header: only platform may, for the outside
            # libraries whose headers are named so (FreeType).
            if in_src and layer not in PLATFORM_ROOMS:
                problems.append(f"{where}: an include named by a macro outside src/platform/")
            continue
        target = resolve(root, path, bracket, name)
        if target is not None:
            if not in_src:
                continue
            if target.parts[0] != "src" or len(target.parts) < 3:
                problems.append(f"{where}: the core includes {target}, outside its layers")
                continue
            to = layer_of(target)
            if layer is None or (to not in ALLOWED and to != "platform"):
                continue
            allowed = set(ALLOWED.get(layer, set()) if layer.startswith("platform") else
                          ALLOWED.get(layer, ALLOWED["startup"]))
            if is_qt:
                allowed |= QT_EXTRA
            if to not in allowed:
                problems.append(f"{where}: layer {layer} includes {to}, a layer above it")
            elif "qt" in target.parts[2:-1] and not is_qt:
                problems.append(f"{where}: the core includes a Qt front-end header")
            continue
        if not THIRD_PARTY.match(name):
            continue
        if in_src and layer in PLATFORM_ROOMS:
            continue
        if HPDF.match(name) and rel.parts[:3] == REFERENCE_WRITER:
            continue
        if QT.match(name) and is_qt:
            continue
        if TEST_LIBS.match(name) and rel.parts[0] == "tests":
            continue
        problems.append(f"{where}: third-party header outside src/platform/")


def check_tree(root: pathlib.Path) -> list:
    """Every offending include below root/src and root/tests, as text."""
    root = root.resolve()
    problems: list = []
    for top in ("src", "tests"):
        for path in sorted((root / top).rglob("*")):
            if path.suffix not in SUFFIXES or not path.is_file():
                continue
            rel = pathlib.PurePosixPath(path.relative_to(root).as_posix())
            check_file(root, path, rel, problems)
    return problems


def main() -> int:
    problems = check_tree(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "."))
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} include(s) break the layering")
        return 1
    print("layering: every include goes to its own layer or one below it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
