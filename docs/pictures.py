#!/usr/bin/python3
"""Makes the manual's pictures, or checks that they are up to date.

    pictures.py --compose PATH/velarion-compose           (make docs)
    pictures.py --compose PATH/velarion-compose --check   (the docs test)

docs/examples/pictures.tsv lists the pictures: a name, a print file below
docs/examples/, the page style, the pages kept and, optionally, the
resolution (default 100 dpi). Each print file is composed
by velarion-compose with the page styles of its own folder, and the kept pages
are rendered to docs/pictures/<name>-<page>.png. docs/pictures/pictures.sums
records, per picture, a digest of the PDF it was rendered from (the PDF
without its dates, identifier and source path) and of the rendering settings.

--check composes every print file again and fails when a digest differs
(the example, a file it uses or the composition changed since the picture
was made), when a picture is missing, or when a listing in overlays.md
differs from its example file."""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

DOCS = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(DOCS, "examples")
PICTURES = os.path.join(DOCS, "pictures")
SUMS = os.path.join(PICTURES, "pictures.sums")
DEFAULT_DPI = 100

# Lines of a normalised PDF that change from one composition to the next.
VOLATILE = re.compile(rb"^\s*(/(CreationDate|ModDate|Keywords|ID)\b|<(xmp:CreateDate|xmp:ModifyDate|pdf:Keywords)>).*$",
                      re.MULTILINE)


def read_table():
    rows = []
    with open(os.path.join(EXAMPLES, "pictures.tsv"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            name, print_file, style, pages = fields[:4]
            dpi = int(fields[4]) if len(fields) > 4 else DEFAULT_DPI
            rows.append((name, print_file, style, [int(p) for p in pages.split(",")], dpi))
    return rows


def compose(program, name, print_file, style, dpi, out_dir):
    """Composes one example; the PDF path and the PNG paths by page."""
    pdf = os.path.join(out_dir, name + ".pdf")
    argv = [program, os.path.join(EXAMPLES, print_file), "--style", style, "-o", pdf,
            "--png", out_dir, "--dpi", str(dpi)]
    result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            encoding="cp1252", errors="replace")
    if result.returncode != 0:
        sys.exit(f"{name}: velarion-compose exited {result.returncode}\n{result.stdout}")
    pngs = {}
    for entry in os.listdir(out_dir):
        m = re.fullmatch(re.escape(name) + r"-(\d+)\.png", entry)
        if m:
            pngs[int(m.group(1))] = os.path.join(out_dir, entry)
    return pdf, pngs


def digest(pdf, dpi, work):
    """sha256 of the PDF in qpdf's normalised form without its volatile lines,
    and of the resolution."""
    normal = os.path.join(work, "normal.pdf")
    subprocess.run(["qpdf", "--qdf", "--object-streams=disable", "--deterministic-id", pdf, normal],
                   check=True)
    with open(normal, "rb") as f:
        data = VOLATILE.sub(b"", f.read())
    return hashlib.sha256(data + f"dpi={dpi}".encode()).hexdigest()


def read_sums():
    sums = {}
    if os.path.exists(SUMS):
        with open(SUMS, encoding="utf-8") as f:
            for line in f:
                if line.strip() and not line.startswith("#"):
                    value, name = line.split()
                    sums[name] = value
    return sums


def overlay_listings():
    """The listings of overlays.md by example file: ### headings and their indented blocks."""
    listings, title, block, previous_blank = {}, None, None, True
    with open(os.path.join(DOCS, "overlays.md"), encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line.startswith("#"):
                title = line[4:].strip() if line.startswith("### ") else None
                block = None
            elif title and line.startswith("    ") and (previous_blank or block is not None):
                if block is None:
                    block = []
                    listings.setdefault(title, []).append(block)
                block.append(line[4:])
            else:
                block = None
            previous_blank = not line.strip()
    files = {}
    for title, blocks in listings.items():
        stem = title.split()[0]
        for i, lines in enumerate(blocks):
            files[f"{stem}{'' if i == 0 else '-e'}.fin"] = "\n".join(lines).replace("→", "\t") + "\n"
    return files


def indented_blocks(markdown):
    """The indented (code) blocks of a Markdown file, as lists of lines."""
    blocks, block, previous_blank = [], None, True
    with open(os.path.join(DOCS, markdown), encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line.startswith("    ") and (previous_blank or block is not None):
                if block is None:
                    block = []
                    blocks.append(block)
                block.append(line[4:])
            else:
                block = None
            previous_blank = not line.strip()
    return blocks


def check_barcode_listings():
    """Every barcode.ini section shown in barcodes.md is in the example's
    barcode.ini, and every barcode piece shown is one of its print files."""
    problems = []
    folder = os.path.join(EXAMPLES, "barcodes")
    with open(os.path.join(folder, "barcode.ini"), encoding="utf-8") as f:
        ini = f.read()
    pieces = set()
    for name in os.listdir(folder):
        if name.endswith(".txt"):
            with open(os.path.join(folder, name), encoding="cp1252") as f:
                pieces.update(line.rstrip("\r\n") for line in f)
    for block in indented_blocks("barcodes.md"):
        text = "\n".join(block)
        if block[0].startswith("[") and text + "\n" not in ini + "\n":
            problems.append(f"barcodes.md shows a section {block[0]} that docs/examples/barcodes/barcode.ini does not hold")
        if block[0].startswith("~%") and block[0] not in pieces and "<data>" not in block[0]:
            problems.append(f"barcodes.md shows {block[0]}, which no print file of docs/examples/barcodes/ holds")
    return problems


def check_listings():
    problems = check_barcode_listings()
    for name, text in overlay_listings().items():
        path = os.path.join(EXAMPLES, "overlays", name)
        try:
            with open(path, encoding="utf-8") as f:
                if f.read() != text:
                    problems.append(f"overlays.md shows another {name} than docs/examples/overlays/{name}")
        except FileNotFoundError:
            problems.append(f"overlays.md shows {name}, which docs/examples/overlays/ does not have")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--compose", required=True, help="the velarion-compose program")
    parser.add_argument("--check", action="store_true", help="check instead of making")
    args = parser.parse_args()

    sums = read_sums()
    new_sums = {}
    problems = check_listings()
    with tempfile.TemporaryDirectory(prefix="velarion-docs-") as work:
        for name, print_file, style, pages, dpi in read_table():
            out = os.path.join(work, name)
            os.mkdir(out)
            pdf, pngs = compose(args.compose, name, print_file, style, dpi, out)
            new_sums[name] = digest(pdf, dpi, work)
            for page in pages:
                if page not in pngs:
                    sys.exit(f"{name}: the PDF has no page {page}")
                target = os.path.join(PICTURES, f"{name}-{page}.png")
                if args.check:
                    if not os.path.exists(target):
                        problems.append(f"{name}: docs/pictures/{name}-{page}.png is missing")
                else:
                    os.makedirs(PICTURES, exist_ok=True)
                    shutil.copyfile(pngs[page], target)
            if args.check and sums.get(name) != new_sums[name]:
                problems.append(f"{name}: the picture is out of date with its example "
                                f"({print_file}, style {style} of its folder)")
    if args.check:
        for name in sorted(set(sums) - set(new_sums)):
            problems.append(f"{name}: pictures.sums names a picture that pictures.tsv does not list")
        if problems:
            print("\n".join(problems))
            print("Run `make docs` and commit docs/pictures/.")
            return 1
        print(f"{len(new_sums)} pictures up to date")
        return 0
    kept = {f"{name}-{page}.png" for name, _, _, pages, _ in read_table() for page in pages}
    for entry in os.listdir(PICTURES):
        if entry.endswith(".png") and entry not in kept:
            os.remove(os.path.join(PICTURES, entry))  # a picture no longer listed
    with open(SUMS, "w", encoding="utf-8") as f:
        f.write("# Digests of the PDFs the pictures were made from (docs/pictures.py).\n")
        for name in sorted(new_sums):
            f.write(f"{new_sums[name]}  {name}\n")
    print(f"{len(new_sums)} pictures made in {PICTURES}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
