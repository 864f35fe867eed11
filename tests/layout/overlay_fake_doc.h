// A drawing object that records the calls of the overlay and barcode routines.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/pdf/pdf_document.h"

namespace velarion::testing {

class RecordingDoc : public PdfDocument {
public:
    std::vector<std::string> calls;
    double char_width = 2.0;  // every character is 2 mm wide
    int imports = 0;
    bool fail_fonts = false;  // SetFontName of an unknown name throws
    bool fail_images = false;  // ImportImageAsResource throws

    static std::string n(double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", v);
        return buf;
    }
    // The calls whose text starts with prefix.
    std::vector<std::string> with(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (c.rfind(prefix, 0) == 0) out.push_back(c);
        return out;
    }

    void NewPDF(const std::string&) override {}
    void SetViewMode(int) override {}
    void SetPageDimensions(double, double) override {}
    void addpage() override {}
    int page_count() const override { return 1; }
    void SetFontName(const std::string& name) override {
        if (fail_fonts && name != "Courier" && name.rfind("/F", 0) != 0 && name != "Known")
            throw PdfError("unknown font: " + name);
        font_ = name;
        calls.push_back("FontName " + name);
    }
    std::string FontName() const override { return font_; }
    void SetFONTHEIGHT(double p) override {
        height_ = p;
        calls.push_back("FONTHEIGHT " + n(p));
    }
    double FONTHEIGHT() const override { return height_; }
    void SetParagraphAlignment(const std::string& a) override { calls.push_back("ParagraphAlignment " + a); }
    void SetParagraphLeading(double v) override { calls.push_back("ParagraphLeading " + n(v)); }
    void SetParagraphWidth(double v) override { calls.push_back("ParagraphWidth " + n(v)); }
    bool AddFont(const std::string& name, const std::string& path) override {
        calls.push_back("AddFont " + name + " " + path);
        return true;
    }
    bool AddFontMONOSPACED(const std::string& name, const std::string& path, int w) override {
        calls.push_back("AddFontMONOSPACED " + name + " " + path + " " + std::to_string(w));
        return true;
    }
    std::string ImportImageAsResource(const std::string& path, int q) override {
        if (fail_images) throw PdfError("image file not found: " + path);
        ++imports;
        calls.push_back("Import " + path + " " + std::to_string(q));
        return "/Im" + std::to_string(imports);
    }
    void DrawImageResource(const std::string& r, double x, double y, double w, double h) override {
        calls.push_back("DrawImage " + r + " " + n(x) + " " + n(y) + " " + n(w) + " " + n(h));
    }
    void TextOut(const std::string& text, double x, double y) override {
        calls.push_back("TextOut [" + text + "] " + n(x) + " " + n(y));
    }
    double GetTextBoxWidth(const std::string& text) override { return char_width * text.size(); }
    void SetTextInclinationDegrees(double d) override { calls.push_back("Inclination " + n(d)); }
    void SetFillColor(int r, int g, int b) override {
        calls.push_back("FillColor " + std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b));
    }
    void SetLineColor(int r, int g, int b) override {
        calls.push_back("LineColor " + std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b));
    }
    void SetLineWidthHiPrec(double w) override { calls.push_back("LineWidth " + n(w)); }
    void DrawLine(double w, double xa, double xb, double ya, double yb) override {
        calls.push_back("Line " + n(w) + " " + n(xa) + " " + n(xb) + " " + n(ya) + " " + n(yb));
    }
    void DrawLineHiPrec(double xa, double xb, double ya, double yb) override {
        calls.push_back("LineHiPrec " + n(xa) + " " + n(xb) + " " + n(ya) + " " + n(yb));
    }
    void DrawRect(double x, double y, double w, double h, bool fill, bool outline, double lw) override {
        calls.push_back("Rect " + n(x) + " " + n(y) + " " + n(w) + " " + n(h) + " " +
                        (fill ? "fill" : "nofill") + " " + (outline ? "outline" : "nooutline") + " " + n(lw));
    }
    void SetAUTHOR(const std::string&) override {}
    std::string Keywords() const override { return ""; }
    void SetKeywords(const std::string&) override {}
    void SavePDF(const std::string&) override {}

private:
    std::string font_ = "Courier";
    double height_ = 10;
};

}  // namespace velarion::testing
