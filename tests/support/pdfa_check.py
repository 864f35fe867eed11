#!/usr/bin/python3
"""A PDF/A-2b/3b rule check of the project's own, written from the rule texts
of ISO 19005-2 (pikepdf reads the file, fontTools the embedded TrueType and
OpenType programs). It is no full validator: README says which rules it
checks.

    pdfa_check.py FILE.pdf [--force]

Prints "claim: <part><conformance>" ("claim: none" without one), then one
line per rule broken: "<clause> <what>". Without --force the rules are
checked only when the file claims to be a PDF/A; a file without the claim
must not carry a PDF/A output intent either. Exit status 0 when no rule is
broken, 1 when one is, 2 when the file cannot be read.
"""
import io
import re
import sys

import pikepdf
from fontTools import agl
from fontTools.ttLib import TTFont

FORBIDDEN_ACTIONS = {"/Launch", "/Sound", "/Movie", "/ResetForm", "/ImportData", "/JavaScript", "/Hide",
                     "/SetOCGState", "/Rendition", "/Trans", "/GoTo3DView"}
FORBIDDEN_ANNOTATIONS = {"/Sound", "/Movie", "/Screen", "/3D", "/RichMedia"}
WINANSI = {c: bytes([c]).decode("cp1252") for c in range(0x20, 0x100) if c not in (0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D)}
MAX_DEPTH = 64


def values(d):
    """The values of a PDF dictionary (or a stream's dictionary); none for anything else."""
    if isinstance(d, (pikepdf.Dictionary, pikepdf.Stream)):
        return [d[k] for k in d.keys()]
    return []


class Checker:
    def __init__(self, pdf, raw):
        self.pdf = pdf
        self.raw = raw
        self.faults = []
        self.seen = set()
        self.fonts = {}  # id -> (font dict, set of codes shown)
        self.cmyk = False
        self.rgb = False

    def fault(self, clause, text):
        line = clause + " " + text
        if line not in self.faults:
            self.faults.append(line)

    # --- file structure -------------------------------------------------
    def structure(self):
        if not re.match(rb"%PDF-\d\.\d\r?\n%[\x80-\xff]{4}", self.raw):
            self.fault("6.1.2", "header: no binary comment of four bytes above 127 on the second line")
        if "/ID" not in self.pdf.trailer:
            self.fault("6.1.3", "trailer: no file identifier /ID")
        if "/Encrypt" in self.pdf.trailer or self.pdf.is_encrypted:
            self.fault("6.1.3", "the file is encrypted")
        for m in re.finditer(rb"endstream", self.raw):
            if self.raw[m.start() - 1:m.start()] not in (b"\n", b"\r"):
                self.fault("6.1.7.1", "no end-of-line before endstream")
                break
        for m in re.finditer(rb"(?<!end)stream(\r\n|\n|\r)?", self.raw):
            if m.group(1) not in (b"\r\n", b"\n"):
                self.fault("6.1.7.1", "stream keyword not followed by CRLF or LF")
                break

    def metadata(self, part):
        root = self.pdf.Root
        m = root.get("/Metadata")
        if m is None:
            self.fault("6.6.2.1", "no XMP metadata in the catalogue")
            return
        if "/Filter" in m:
            self.fault("6.6.2.1", "the metadata stream is filtered")
        if part == 2 and "/EmbeddedFiles" in root.get("/Names", {}):
            self.fault("6.8", "a PDF/A-2 holds embedded files")

    def output_intent(self):
        intents = [i for i in self.pdf.Root.get("/OutputIntents", []) if i.get("/S") == "/GTS_PDFA1"]
        if not intents:
            self.fault("6.2.3", "no PDF/A output intent")
            return None
        profile = intents[0].get("/DestOutputProfile")
        if profile is None:
            self.fault("6.2.3", "the output intent has no profile")
            return None
        return int(profile.get("/N", 0))

    # --- what the pages draw -------------------------------------------
    def first(self, obj):
        if not obj.is_indirect:
            return True
        key = obj.objgen
        if key in self.seen:
            return False
        self.seen.add(key)
        return True

    def colour_space(self, cs, depth=0):
        if depth > 8 or cs is None:
            return
        if isinstance(cs, pikepdf.Name):
            if cs in ("/DeviceCMYK", "/CMYK"):
                self.cmyk = True
            if cs in ("/DeviceRGB", "/RGB"):
                self.rgb = True
            return
        if isinstance(cs, pikepdf.Array) and len(cs) > 1:
            family = cs[0]
            if family in ("/Indexed", "/I", "/Pattern"):
                self.colour_space(cs[1], depth + 1)
            elif family in ("/Separation", "/DeviceN") and len(cs) > 2:
                self.colour_space(cs[2], depth + 1)

    def resources(self, res, depth, queue):
        if res is None or not isinstance(res, pikepdf.Dictionary) or not self.first(res):
            return
        for key, font in res.get("/Font", {}).items():
            if not isinstance(font, pikepdf.Dictionary):
                continue
            if not self.embedded(font):
                self.fault("6.2.11.4.1", "font not embedded: " + str(font.get("/BaseFont", key))[1:])
            if font.get("/Subtype") == "/Type3" and self.first(font):
                for proc in values(font.get("/CharProcs", {})):
                    queue.append((proc, font.get("/Resources", res), depth + 1))
        for x in values(res.get("/XObject", {})):
            if x.get("/Subtype") == "/Form":
                queue.append((x, x.get("/Resources", res), depth + 1))
            else:
                self.colour_space(x.get("/ColorSpace"))
                if x.get("/Interpolate") is True:
                    self.fault("6.2.8", "an image with Interpolate true")
        for p in values(res.get("/Pattern", {})):
            if isinstance(p, pikepdf.Stream):
                queue.append((p, p.get("/Resources", res), depth + 1))
            elif "/Shading" in p:
                self.colour_space(p.Shading.get("/ColorSpace"))
        for cs in values(res.get("/ColorSpace", {})):
            self.colour_space(cs)
        for sh in values(res.get("/Shading", {})):
            self.colour_space(sh.get("/ColorSpace"))
        for gs in values(res.get("/ExtGState", {})):
            if "/TR" in gs:
                self.fault("6.2.5", "a graphics state with a transfer function TR")
            mask = gs.get("/SMask")
            if isinstance(mask, pikepdf.Dictionary) and "/G" in mask:
                queue.append((mask.G, mask.G.get("/Resources", res), depth + 1))

    @staticmethod
    def embedded(font):
        if font.get("/Subtype") == "/Type3":
            return True
        if font.get("/Subtype") == "/Type0":
            font = font.DescendantFonts[0]
        d = font.get("/FontDescriptor")
        return d is not None and any(k in d for k in ("/FontFile", "/FontFile2", "/FontFile3"))

    def content(self, stream, res):
        try:
            instructions = pikepdf.parse_content_stream(stream)
        except pikepdf.PdfError as e:
            self.fault("6.2.2", "content that cannot be read: " + str(e))
            return
        fonts = res.get("/Font", {}) if isinstance(res, pikepdf.Dictionary) else {}
        current = None
        for ins in instructions:
            if isinstance(ins, pikepdf.ContentStreamInlineImage):
                try:
                    self.colour_space(pikepdf.Name("/" + ins.iimage.colorspace.lstrip("/")))
                except Exception:  # noqa: BLE001 - an inline picture without its colour space
                    pass
                continue
            op, args = str(ins.operator), ins.operands
            if op in ("k", "K"):
                self.cmyk = True
            elif op in ("rg", "RG"):
                self.rgb = True
            elif op in ("cs", "CS") and args:
                self.colour_space(args[0])
            elif op == "Tf" and args:
                font = fonts.get(args[0])
                current = None
                if isinstance(font, pikepdf.Dictionary):
                    key = font.objgen if font.is_indirect else id(font)
                    current = self.fonts.setdefault(key, (font, set()))[1]
            elif op in ("Tj", "'", '"') and args and current is not None:
                current.update(bytes(args[-1]))
            elif op == "TJ" and args and current is not None:
                for part in args[0]:
                    if isinstance(part, pikepdf.String):
                        current.update(bytes(part))

    def annotations(self, page, res, queue):
        for a in page.get("/Annots", []):
            sub = a.get("/Subtype")
            if sub in FORBIDDEN_ANNOTATIONS:
                self.fault("6.3.1", "annotation type not permitted: " + str(sub)[1:])
            flags = int(a.get("/F", 0))
            if sub != "/Popup" and (flags & 4 == 0 or flags & (1 | 2 | 32 | 256)):
                self.fault("6.3.2", "annotation without the print flag or with a hidden flag")
            if "/AA" in a:
                self.fault("6.5.2", "annotation with additional actions AA")
            action = a.get("/A")
            while isinstance(action, pikepdf.Dictionary):
                if action.get("/S") in FORBIDDEN_ACTIONS:
                    self.fault("6.5.1", "action not permitted: " + str(action.S)[1:])
                action = action.get("/Next")
            ap = a.get("/AP")
            rect = [float(v) for v in a.get("/Rect", [0, 0, 1, 1])]
            if (ap is None or "/N" not in ap) and sub not in ("/Popup", "/Link") and rect[0] != rect[2] and rect[1] != rect[3]:
                self.fault("6.3.3", "annotation without a normal appearance")
            if ap is None:
                continue
            for v in values(ap):
                if isinstance(v, pikepdf.Stream):
                    queue.append((v, v.get("/Resources", res), 1))
                elif isinstance(v, pikepdf.Dictionary):
                    for s in values(v):
                        if isinstance(s, pikepdf.Stream):
                            queue.append((s, s.get("/Resources", res), 1))

    def pages(self):
        root = self.pdf.Root
        if "/AA" in root:
            self.fault("6.5.2", "catalogue with additional actions AA")
        open_action = root.get("/OpenAction")
        if isinstance(open_action, pikepdf.Dictionary) and open_action.get("/S") in FORBIDDEN_ACTIONS:
            self.fault("6.5.1", "open action not permitted: " + str(open_action.S)[1:])
        if "/JavaScript" in root.get("/Names", {}):
            self.fault("6.5.1", "document JavaScript")
        for page in self.pdf.pages:
            page = page.obj
            if "/AA" in page:
                self.fault("6.5.2", "page with additional actions AA")
            res = page.get("/Resources")
            queue = [(page, res, 0)]
            self.annotations(page, res, queue)
            while queue:
                stream, r, depth = queue.pop()
                if depth > MAX_DEPTH:
                    self.fault("6.1.13", "drawing nested deeper than %d levels" % MAX_DEPTH)
                    continue
                if stream is not page and not self.first(stream):
                    continue
                self.resources(r, depth, queue)
                self.content(stream, r if r is not None else pikepdf.Dictionary())

    # --- fonts: glyphs present, widths as the program gives them ---------
    def font_programs(self):
        for font, codes in self.fonts.values():
            if font.get("/Subtype") not in ("/TrueType", "/Type1", "/MMType1") or not codes:
                continue
            d = font.get("/FontDescriptor")
            if d is None:
                continue
            program = d.get("/FontFile2") if "/FontFile2" in d else d.get("/FontFile3")
            if program is None:
                continue  # a Type 1 program: its glyphs are not read here
            name = str(font.get("/BaseFont", "/?"))[1:]
            try:
                tt = TTFont(io.BytesIO(program.read_bytes()))
            except Exception:  # noqa: BLE001 - a bare CFF program: not read here
                continue
            glyph_of = self.glyph_mapper(font, d, tt)
            units = tt["head"].unitsPerEm
            widths = [float(w) for w in font.get("/Widths", [])]
            first = int(font.get("/FirstChar", 0))
            missing = float(d.get("/MissingWidth", 0))
            for code in sorted(codes):
                glyph = glyph_of(code)
                if glyph is None:
                    continue
                if glyph == ".notdef" or glyph not in tt.getGlyphOrder():
                    self.fault("6.2.11.8", "%s: code 0x%02X drawn with .notdef" % (name, code))
                    continue
                true = tt["hmtx"][glyph][0] * 1000.0 / units
                given = widths[code - first] if 0 <= code - first < len(widths) else missing
                if abs(true - given) > 1:
                    self.fault("6.2.11.5", "%s: width of code 0x%02X is %g, the program's %g" % (name, code, given, true))

    @staticmethod
    def glyph_mapper(font, descriptor, tt):
        """code -> glyph name of the program (None: cannot be told)."""
        symbolic = int(descriptor.get("/Flags", 0)) & 4
        enc = font.get("/Encoding")
        base = enc.get("/BaseEncoding") if isinstance(enc, pikepdf.Dictionary) else enc
        differences = {}
        if isinstance(enc, pikepdf.Dictionary):
            code = 0
            for item in enc.get("/Differences", []):
                if isinstance(item, pikepdf.Name):
                    differences[code] = str(item)[1:]
                    code += 1
                else:
                    code = int(item)
        unicode_map = tt["cmap"].getcmap(3, 1)
        symbol_map = tt["cmap"].getcmap(3, 0)
        roman_map = tt["cmap"].getcmap(1, 0)

        def glyph_of(code):
            if code in differences:
                name = differences[code]
                if name in tt.getGlyphOrder():
                    return name
                text = agl.toUnicode(name)
                if len(text) == 1 and unicode_map is not None:
                    return unicode_map.cmap.get(ord(text), ".notdef")
                return None
            if symbolic or base is None:
                for table, value in ((symbol_map, code), (symbol_map, 0xF000 + code), (roman_map, code)):
                    if table is not None and value in table.cmap:
                        return table.cmap[value]
                return ".notdef" if (symbol_map or roman_map) else None
            if base == "/WinAnsiEncoding" and unicode_map is not None:
                if code not in WINANSI:
                    return ".notdef"
                return unicode_map.cmap.get(ord(WINANSI[code]), ".notdef")
            return None

        return glyph_of


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    force = "--force" in argv
    raw = open(argv[1], "rb").read()
    try:
        pdf = pikepdf.open(argv[1])
    except pikepdf.PasswordError:
        pdf = None
    except pikepdf.PdfError as e:
        print("cannot read: %s" % e, file=sys.stderr)
        return 2
    if pdf is None:  # encrypted with a user password: only the structure is looked at
        print("claim: unknown")
        return 1
    xmp = b""
    if "/Metadata" in pdf.Root:
        xmp = pdf.Root.Metadata.read_bytes()
    part = re.search(rb"pdfaid:part(?:>|=[\"'])(\d)", xmp)
    conformance = re.search(rb"pdfaid:conformance(?:>|=[\"'])([ABU])", xmp)
    claim = (part.group(1).decode() + (conformance.group(1).decode() if conformance else "?")) if part else "none"
    print("claim: " + claim)
    c = Checker(pdf, raw)
    if not part and not force:
        if any(i.get("/S") == "/GTS_PDFA1" for i in pdf.Root.get("/OutputIntents", [])):
            c.fault("claim", "a PDF/A output intent without the PDF/A claim")
    else:
        c.structure()
        c.metadata(int(part.group(1)) if part else 0)
        components = c.output_intent()
        c.pages()
        c.font_programs()
        if c.cmyk and components != 4:
            c.fault("6.2.4.3", "DeviceCMYK used without a CMYK output intent")
        if c.rgb and components != 3:
            c.fault("6.2.4.3", "DeviceRGB used without an RGB output intent")
    for line in c.faults:
        print(line)
    return 1 if c.faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
