#!/usr/bin/python3
"""One-page PDFs, each with one thing a PDF/A may not hold, for merging.

    pdfa_faulty_pages.py KIND OUT.pdf

KIND: annotation-font, pattern-font, nested-font (a font not embedded, drawn
by an annotation's appearance, a tiling pattern, a form five forms deep),
cmyk (DeviceCMYK colour), javascript, launch (link actions), no-flags (an
annotation without flags), hidden (a hidden annotation), deep-forms (forms
nested 40 deep, deeper than the agent walks), widths (an embedded
TrueType font whose widths differ from its program), clean (none of these).
"""
import sys

import pikepdf

LIBERATION = "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"


def base_font(pdf):
    return pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.Font, Subtype=pikepdf.Name.Type1,
                                                BaseFont=pikepdf.Name.Helvetica,
                                                Encoding=pikepdf.Name.WinAnsiEncoding))


def form(pdf, content, resources):
    return pdf.make_stream(content, Type=pikepdf.Name.XObject, Subtype=pikepdf.Name.Form,
                           BBox=[0, 0, 200, 200], Resources=resources)


def page(pdf, content, resources, annots=None):
    p = pikepdf.Dictionary(Type=pikepdf.Name.Page, MediaBox=[0, 0, 595, 842],
                           Contents=pdf.make_stream(content), Resources=resources)
    if annots is not None:
        p.Annots = pikepdf.Array(annots)
    pdf.pages.append(pikepdf.Page(p))


def link(pdf, action, flags=4):
    a = pikepdf.Dictionary(Type=pikepdf.Name.Annot, Subtype=pikepdf.Name.Link, Rect=[50, 50, 150, 80],
                           Border=[0, 0, 0], A=action)
    if flags is not None:
        a.F = flags
    return pdf.make_indirect(a)


def square(pdf, flags):
    appearance = form(pdf, b"0 0 1 RG 2 w 1 1 98 28 re S\n", pikepdf.Dictionary())
    a = pikepdf.Dictionary(Type=pikepdf.Name.Annot, Subtype=pikepdf.Name.Square, Rect=[50, 100, 150, 130],
                           AP=pikepdf.Dictionary(N=appearance))
    if flags is not None:
        a.F = flags
    return pdf.make_indirect(a)


def make(kind, out):
    pdf = pikepdf.new()
    drawing = b"0.2 0.4 0.6 rg 100 600 200 100 re f\n"
    text = b"BT /F1 12 Tf 100 500 Td (Condizioni generali) Tj ET\n"
    if kind == "clean":
        page(pdf, drawing, pikepdf.Dictionary())
    elif kind == "annotation-font":
        appearance = form(pdf, text.replace(b"100 500", b"5 5"),
                          pikepdf.Dictionary(Font=pikepdf.Dictionary(F1=base_font(pdf))))
        note = pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.Annot, Subtype=pikepdf.Name.FreeText,
                                                    Rect=[50, 50, 250, 80], F=4, DA=pikepdf.String("/F1 12 Tf"),
                                                    Contents=pikepdf.String("nota"),
                                                    AP=pikepdf.Dictionary(N=appearance)))
        page(pdf, drawing, pikepdf.Dictionary(), [note])
    elif kind == "pattern-font":
        tile = pdf.make_stream(text.replace(b"100 500", b"2 2"), Type=pikepdf.Name.Pattern, PatternType=1,
                               PaintType=1, TilingType=1, BBox=[0, 0, 100, 20], XStep=100, YStep=20,
                               Resources=pikepdf.Dictionary(Font=pikepdf.Dictionary(F1=base_font(pdf))))
        page(pdf, b"/Pattern cs /P1 scn 100 600 300 100 re f\n",
             pikepdf.Dictionary(Pattern=pikepdf.Dictionary(P1=tile)))
    elif kind == "nested-font":
        inner = form(pdf, text, pikepdf.Dictionary(Font=pikepdf.Dictionary(F1=base_font(pdf))))
        for _ in range(4):
            inner = form(pdf, b"/X1 Do\n", pikepdf.Dictionary(XObject=pikepdf.Dictionary(X1=inner)))
        page(pdf, b"/X1 Do\n", pikepdf.Dictionary(XObject=pikepdf.Dictionary(X1=inner)))
    elif kind == "deep-forms":
        inner = form(pdf, drawing, pikepdf.Dictionary())
        for _ in range(39):
            inner = form(pdf, b"/X1 Do\n", pikepdf.Dictionary(XObject=pikepdf.Dictionary(X1=inner)))
        page(pdf, b"/X1 Do\n", pikepdf.Dictionary(XObject=pikepdf.Dictionary(X1=inner)))
    elif kind == "cmyk":
        page(pdf, b"0 0.5 1 0 k 100 600 200 100 re f\n", pikepdf.Dictionary())
    elif kind == "javascript":
        page(pdf, drawing, pikepdf.Dictionary(),
             [link(pdf, pikepdf.Dictionary(S=pikepdf.Name.JavaScript, JS=pikepdf.String("app.alert(1)")))])
    elif kind == "launch":
        page(pdf, drawing, pikepdf.Dictionary(),
             [link(pdf, pikepdf.Dictionary(S=pikepdf.Name.Launch, F=pikepdf.String("/bin/sh")))])
    elif kind == "no-flags":
        page(pdf, drawing, pikepdf.Dictionary(), [square(pdf, None)])
    elif kind == "hidden":
        page(pdf, drawing, pikepdf.Dictionary(), [square(pdf, 2 | 4)])
    elif kind == "widths":
        program = open(LIBERATION, "rb").read()
        descriptor = pikepdf.Dictionary(Type=pikepdf.Name.FontDescriptor, FontName=pikepdf.Name.LiberationSans,
                                        Flags=32, FontBBox=[-544, -303, 1302, 980], ItalicAngle=0, Ascent=905,
                                        Descent=-212, CapHeight=729, StemV=80,
                                        FontFile2=pdf.make_stream(program, Length1=len(program)))
        font = pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.Font, Subtype=pikepdf.Name.TrueType,
                                                    BaseFont=pikepdf.Name.LiberationSans, FirstChar=32, LastChar=126,
                                                    Widths=[500] * 95, Encoding=pikepdf.Name.WinAnsiEncoding,
                                                    FontDescriptor=pdf.make_indirect(descriptor)))
        page(pdf, text, pikepdf.Dictionary(Font=pikepdf.Dictionary(F1=font)))
    else:
        print("unknown kind " + kind, file=sys.stderr)
        return 2
    pdf.save(out)
    return 0


if __name__ == "__main__":
    sys.exit(make(sys.argv[1], sys.argv[2]) if len(sys.argv) == 3 else 2)
