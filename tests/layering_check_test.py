#!/usr/bin/env python3
"""Tests of layering_check.py on small source trees made in temporary folders."""
import importlib.util
import pathlib
import tempfile
import unittest

_spec = importlib.util.spec_from_file_location(
    "layering_check", pathlib.Path(__file__).with_name("layering_check.py"))
layering_check = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(layering_check)


class LayeringCheckTest(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self._dir.name)
        # A clean tree: each layer includes its own headers and those below.
        self.write("src/platform/os/paths.h", "#pragma once\n#include <string>\n")
        self.write("src/platform/pdf/font.cpp", '#include "platform/os/paths.h"\n#include <ft2build.h>\n'
                                            "#include FT_FREETYPE_H\n#include <hb-subset.h>\n")
        self.write("src/spool/scan.h", '#pragma once\n#include "platform/os/paths.h"\n')
        self.write("src/spool/scan.cpp", '#include "spool/scan.h"\n#include "scan.h"\n'
                                         '#include "pdf/page.h"\n')
        self.write("src/pdf/page.h", '#pragma once\n#include <platform/os/paths.h>\n#include "../platform/os/paths.h"\n')
        self.write("src/pdf/page.cpp", '#include "pdf/page.h"\n// #include "spool/scan.h"\n'
                                       '/* #include "spool/scan.h"\n   #include <QWidget> */\n')
        self.write("src/startup/qt/window.cpp", "#include <QWidget>\n#include \"spool/scan.h\"\n")
        self.write("tests/spool/scan_test.cpp", '#include "spool/scan.h"\n#include <gtest/gtest.h>\n')

    def tearDown(self):
        self._dir.cleanup()

    def write(self, rel, text):
        path = self.root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)

    def problems(self):
        return layering_check.check_tree(self.root)

    def assertOneProblem(self, where, why):
        problems = self.problems()
        self.assertEqual(len(problems), 1, problems)
        self.assertTrue(problems[0].startswith(where), problems[0])
        self.assertIn(why, problems[0])

    def test_a_clean_tree_passes(self):
        self.assertEqual(self.problems(), [])

    def test_an_upward_include_in_angle_brackets_fails(self):
        self.write("src/pdf/draw.cpp", '#include "pdf/page.h"\n#include <spool/scan.h>\n')
        self.assertOneProblem("src/pdf/draw.cpp:2: #include <spool/scan.h>", "layer pdf includes spool")

    def test_an_upward_include_by_a_relative_path_fails(self):
        self.write("src/pdf/draw.cpp", '#include "../spool/scan.h"\n')
        self.assertOneProblem('src/pdf/draw.cpp:1: #include "../spool/scan.h"', "layer pdf includes spool")
        # Also from a sub-folder, and in spite of blanks and a trailing comment.
        self.write("src/pdf/draw.cpp", "\n")
        self.write("src/pdf/parts/draw.cpp", '  #  include "../../spool/scan.h" // scan\n')
        self.assertOneProblem("src/pdf/parts/draw.cpp:1:", "layer pdf includes spool")

    def test_an_upward_include_in_an_inline_file_fails(self):
        self.write("src/pdf/page.inl", '#include "spool/scan.h"\n')
        self.assertOneProblem('src/pdf/page.inl:1: #include "spool/scan.h"', "layer pdf includes spool")
        for suffix in (".hpp", ".ipp"):
            self.write("src/pdf/page.inl", "\n")
            self.write("src/pdf/page" + suffix, "#include <spool/scan.h>\n")
            self.assertOneProblem("src/pdf/page" + suffix + ":1:", "layer pdf includes spool")
            (self.root / ("src/pdf/page" + suffix)).unlink()

    def test_third_party_headers_stay_in_platform_in_either_quote_style(self):
        self.write("src/pdf/draw.cpp", '#include "hpdf.h"\n')
        self.assertOneProblem("src/pdf/draw.cpp:1:", "third-party header outside src/platform/")
        self.write("src/pdf/draw.cpp", "#include <fontconfig/fontconfig.h>\n")
        self.assertOneProblem("src/pdf/draw.cpp:1:", "third-party header outside src/platform/")
        self.write("src/pdf/draw.cpp", "#include FT_FREETYPE_H\n")
        self.assertOneProblem("src/pdf/draw.cpp:1:", "an include named by a macro")

    def test_the_core_neither_includes_the_front_end_nor_leaves_its_folders(self):
        self.write("src/startup/qt/window.h", "#pragma once\n")
        self.write("src/startup/run.cpp", '#include "startup/qt/window.h"\n')
        self.assertOneProblem("src/startup/run.cpp:1:", "Qt front-end header")
        self.write("src/startup/run.cpp", '#include "../../tests/spool/helper.h"\n')
        self.write("tests/spool/helper.h", "#pragma once\n")
        self.assertOneProblem("src/startup/run.cpp:1:", "outside its layers")

    def test_the_rooms_of_platform_stay_apart(self):
        # pdf and mail stand on os and never include each other; os includes neither.
        self.write("src/platform/pdf/page.h", "#pragma once\n")
        self.write("src/platform/mail/smtp.h", "#pragma once\n")
        for frm, to, name in (("mail/send.cpp", "pdf", "platform/pdf/page.h"),
                              ("pdf/draw.cpp", "mail", "platform/mail/smtp.h"),
                              ("os/file.cpp", "pdf", "platform/pdf/page.h"),
                              ("os/file.cpp", "mail", "../mail/smtp.h")):
            with self.subTest(frm=frm, to=to):
                self.write(f"src/platform/{frm}", f'#include "{name}"\n')
                self.assertOneProblem(f"src/platform/{frm}:1:", f"includes platform/{to}, a layer above it")
                (self.root / "src/platform" / frm).unlink()
        self.write("src/platform/mail/send.cpp", '#include "platform/os/paths.h"\n#include <vmime/vmime.hpp>\n')
        self.write("src/spool/send.cpp", '#include "platform/mail/smtp.h"\n#include "platform/pdf/page.h"\n')
        self.assertEqual(self.problems(), [])

    def test_libharu_only_in_the_reference_writer(self):
        self.write("tests/support/reference_writer/hpdf_document.cpp", "#include <hpdf.h>\n")
        self.assertEqual(self.problems(), [])
        self.write("tests/pdf/draw_test.cpp", "#include <hpdf.h>\n")
        self.assertOneProblem("tests/pdf/draw_test.cpp:1:", "third-party header outside src/platform/")

    def test_the_command_exits_1_on_a_problem(self):
        import subprocess
        import sys
        script = pathlib.Path(__file__).with_name("layering_check.py")
        clean = subprocess.run([sys.executable, str(script), str(self.root)], capture_output=True, text=True)
        self.assertEqual(clean.returncode, 0, clean.stdout)
        self.write("src/platform/os/up.h", "#include <spool/scan.h>\n")
        broken = subprocess.run([sys.executable, str(script), str(self.root)], capture_output=True, text=True)
        self.assertEqual(broken.returncode, 1)
        self.assertIn("src/platform/os/up.h:1: #include <spool/scan.h>: layer platform/os includes spool", broken.stdout)


if __name__ == "__main__":
    unittest.main()
