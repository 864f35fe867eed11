#!/usr/bin/python3
"""The Debian package and the installed tree, checked with the tools a user or
Debian has: cpack builds the package, dpkg-deb and lintian check it, apt
resolves its dependencies, dpkg -x unpacks it into a throw-away root where the
installed programs run (with the environment's library path untouched) and the
installed sample installation is processed by the installed agent. A
`cmake --install` into a folder checks the files written for its prefix.

Environment: VELARION_BUILD_DIR (the build tree), VELARION_VERSION (the
project version)."""

import glob
import os
import re
import shutil
import subprocess
import tempfile
import unittest

BUILD = os.environ["VELARION_BUILD_DIR"]
VERSION = os.environ["VELARION_VERSION"]
DEB_VERSION = VERSION + "-1"


def run(argv, check=True, **kw):
    kw.setdefault("env", clean_env())
    result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)
    if check and result.returncode != 0:
        raise AssertionError(f"{argv} exited {result.returncode}\n{result.stdout}\n{result.stderr}")
    return result


def clean_env(**extra):
    """The caller's environment without a library path: installed programs must
    find their libraries by themselves."""
    env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
    env.update(extra)
    return env


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="velarion-package-")
        out = os.path.join(cls.tmp, "out")
        run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out])
        debs = glob.glob(os.path.join(out, "*.deb"))
        assert len(debs) == 1, debs
        cls.deb = debs[0]
        cls.root = os.path.join(cls.tmp, "root")
        run(["dpkg", "-x", cls.deb, cls.root])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_control_fields_name_the_package_and_its_libraries(self):
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        self.assertEqual(os.path.basename(self.deb), f"velarion_{DEB_VERSION}_{arch}.deb")
        field = lambda name: run(["dpkg-deb", "--field", self.deb, name]).stdout.strip()
        self.assertEqual(field("Package"), "velarion")
        self.assertEqual(field("Version"), DEB_VERSION)
        self.assertEqual(field("Architecture"), arch)
        self.assertEqual(field("Section"), "mail")
        self.assertRegex(field("Maintainer"), r"^[^<>]+ <[^@<>\s]+@[^@<>\s]+>$")
        depends = field("Depends")
        # Found by dpkg-shlibdeps from the linked libraries, not written by hand.
        # The PDF writer's compressor and font reader; libharu is only the
        # reference of the output comparison test and is not shipped.
        for lib in ("libqpdf", "libvmime", "libzip", "libisal2", "libfreetype6", "libqt6widgets6", "libpoppler-cpp",
                    "libc6"):
            self.assertIn(lib, depends)
        self.assertNotIn("libhpdf", depends)
        info = run(["dpkg-deb", "--info", self.deb]).stdout
        self.assertIn(" Description: ", info)
        self.assertIn("\n  .\n", info)  # an extended description with paragraphs

    def test_contents_are_owned_by_root_and_lie_below_usr(self):
        listing = run(["dpkg-deb", "--contents", self.deb]).stdout.splitlines()
        paths = {}
        for line in listing:
            fields = line.split(None, 5)
            self.assertEqual(fields[1], "root/root", line)
            name = fields[5].split(" -> ")[0]
            self.assertTrue(name.startswith("./usr/"), line)
            paths[name] = fields[0]
        for name in ("./usr/lib/velarion/velarion", "./usr/lib/velarion/velarion-compose",
                     "./usr/lib/velarion/encryptpdf",
                     "./usr/lib/velarion/pkzip", "./usr/lib/velarion/velarion-desktop",
                     "./usr/share/velarion/examples/demo/setup.sh",
                     "./usr/share/velarion/examples/demo/run.sh"):
            self.assertEqual(paths.get(name), "-rwxr-xr-x", name)
        for name in ("./usr/lib/systemd/user/velarion@.service",
                     "./usr/lib/systemd/system/velarion@.service",
                     "./usr/lib/sysusers.d/velarion.conf",
                     "./usr/lib/tmpfiles.d/velarion.conf",
                     "./usr/share/applications/velarion.desktop",
                     "./usr/share/icons/hicolor/scalable/apps/velarion.svg",
                     "./usr/share/doc/velarion/copyright",
                     "./usr/share/doc/velarion/changelog.Debian.gz",
                     "./usr/share/doc/velarion/README.md",
                     "./usr/share/man/man1/velarion.1.gz",
                     "./usr/share/man/man1/velarion-compose.1.gz",
                     "./usr/share/doc/velarion/manual/README.md",
                     "./usr/share/doc/velarion/manual/overlays.md",
                     "./usr/share/doc/velarion/manual/pictures/overlay-RETT-1.png",
                     "./usr/share/doc/velarion/manual/examples/overlays/RETT.fin",
                     "./usr/share/velarion/velarion.env.example",
                     "./usr/share/velarion/examples/demo/velarion.ini.in",
                     "./usr/share/velarion/examples/demo/loghi/loghi.ini"):
            self.assertEqual(paths.get(name), "-rw-r--r--", name)
        self.assertTrue(paths.get("./usr/bin/velarion", "").startswith("l"))
        self.assertTrue(paths.get("./usr/bin/velarion-compose", "").startswith("l"))
        self.assertNotIn("./usr/share/doc/velarion/manual/pictures.py", paths)
        self.assertFalse([p for p in paths if "/examples/demo/run/" in p])  # no demo run left over

    def test_lintian_finds_no_error_or_warning(self):
        result = run(["lintian", "--fail-on", "error,warning", self.deb], check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotRegex(result.stdout, r"(?m)^[EW]: ")

    def test_apt_resolves_the_dependencies(self):
        # --reinstall: on a machine where this version is installed already,
        # apt would otherwise only say so, and resolve nothing.
        result = run(["apt-get", "install", "--simulate", "--reinstall", "--no-install-recommends", self.deb])
        self.assertRegex(result.stdout, rf"(?m)^Conf velarion \({re.escape(DEB_VERSION)} ")

    def test_maintainer_script_makes_the_services_user_and_folders(self):
        control = os.path.join(self.tmp, "control")
        run(["dpkg-deb", "-e", self.deb, control])
        postinst = os.path.join(control, "postinst")
        # prerm stops the agents on removal, postrm cleans up on purge: shell that parses.
        for script in ("postinst", "prerm", "postrm"):
            self.assertTrue(os.access(os.path.join(control, script), os.X_OK), script)
            run(["sh", "-n", os.path.join(control, script)])
        if os.geteuid() != 0 or not shutil.which("systemd-sysusers") or not shutil.which("systemd-tmpfiles"):
            self.skipTest("needs root and systemd-sysusers/systemd-tmpfiles to run the script in a test root")
        # The script run as dpkg runs it, its tools pointed at a throw-away root.
        root = os.path.join(self.tmp, "maint-root")
        shutil.copytree(self.root, root, symlinks=True)
        os.makedirs(os.path.join(root, "etc"), exist_ok=True)
        wrappers = os.path.join(self.tmp, "wrappers")
        os.makedirs(wrappers, exist_ok=True)
        for tool in ("systemd-sysusers", "systemd-tmpfiles"):
            path = os.path.join(wrappers, tool)
            with open(path, "w") as f:
                f.write(f"#!/bin/sh\nexec {shutil.which(tool)} --root={root} \"$@\"\n")
            os.chmod(path, 0o755)
        env = clean_env(PATH=wrappers + ":" + os.environ.get("PATH", "/usr/bin:/bin"))
        run([postinst, "configure"], env=env)
        with open(os.path.join(root, "etc/passwd")) as f:
            self.assertRegex(f.read(), r"(?m)^velarion:x:\d+:\d+:Velarion spooling agent:/var/lib/velarion:")
        for folder, mode in (("etc/velarion", 0o755), ("var/lib/velarion", 0o750), ("var/spool/velarion", 0o3770)):
            st = os.stat(os.path.join(root, folder))
            self.assertEqual(st.st_mode & 0o7777, mode, folder)
        # Run again (an upgrade): nothing changes, nothing fails.
        run([postinst, "configure"], env=env)

    def test_installed_programs_run_from_where_they_are(self):
        prog = os.path.join(self.root, "usr/lib/velarion")
        link = os.path.join(self.root, "usr/bin/velarion")
        self.assertEqual(os.readlink(link), "../lib/velarion/velarion")
        self.assertEqual(os.path.realpath(link), os.path.join(os.path.realpath(prog), "velarion"))
        # Every program through the path a user types, with the project's version.
        for tool in ("bin/velarion", "bin/velarion-compose", "lib/velarion/encryptpdf", "lib/velarion/pkzip"):
            path = os.path.join(self.root, "usr", tool)
            name = os.path.basename(tool)
            self.assertEqual(run([path, "--version"]).stdout, f"{name} (Velarion) {VERSION}\n")
            self.assertTrue(run([path, "--help"]).stdout.startswith(f"Usage: {name} "))
        for binary in ("velarion", "velarion-compose", "velarion-compose-pictures.so", "encryptpdf", "pkzip"):
            dynamic = run(["readelf", "-d", os.path.join(prog, binary)]).stdout
            self.assertNotRegex(dynamic, r"RPATH|RUNPATH", binary)  # nothing points into the build tree
            self.assertNotIn(BUILD, dynamic)

    def test_installed_agent_processes_the_installed_sample_installation(self):
        demo = os.path.join(self.root, "usr/share/velarion/examples/demo")
        result = run(["sh", os.path.join(demo, "run.sh"), os.path.join(self.root, "usr/bin/velarion")],
                     check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Drafts: 4  Sent: 2", result.stdout)
        work = os.path.join(demo, "run/tempozip")
        for pdf in ("TABUL1.pdf", "LETT01.pdf", "FATT01.pdf", "FATT02.pdf"):
            info = run(["pdfinfo", os.path.join(work, pdf)]).stdout
            self.assertRegex(info, r"Pages:\s+[1-9]")

        # The installed preview on the installed demo's invoice and styles.
        preview = os.path.join(self.tmp, "preview")
        print_file = os.path.join(self.tmp, "FATT01.txt")
        shutil.copy(os.path.join(demo, "spool/AB.903.0"), print_file)
        result = run([os.path.join(self.root, "usr/bin/velarion-compose"), print_file, "--style", "FATTURA",
                      "ini:" + os.path.join(demo, "run"), "ope:AB", "-o", os.path.join(preview, "f.pdf"),
                      "--png", preview], check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("print type: 12v\n", result.stdout)
        self.assertTrue(os.path.exists(os.path.join(preview, "f-2.png")))  # the invoice and its conditions

        # The desktop launcher starts the agent with the operator and folder of desktop.env.
        config = os.path.join(self.tmp, "config")
        os.makedirs(os.path.join(config, "velarion"))
        with open(os.path.join(config, "velarion/desktop.env"), "w") as f:
            f.write(f"VELARION_OPE=AB\nVELARION_INI={os.path.join(demo, 'run')}\n")
        launcher = os.path.join(self.root, "usr/lib/velarion/velarion-desktop")
        with open(launcher) as f:
            text = f.read()
        self.assertIn('exec "/usr/bin/velarion"', text)
        # Run it against the unpacked agent: only the program path differs from the installed one.
        local = os.path.join(self.tmp, "velarion-desktop")
        with open(local, "w") as f:
            f.write(text.replace('"/usr/bin/velarion"', f'"{self.root}/usr/bin/velarion"'))
        result = run(["sh", local, "--headless", "--once"], check=False,
                     env=clean_env(XDG_CONFIG_HOME=config))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Chiusura VELARION", result.stdout)

    def test_units_are_hardened(self):
        # systemd's own rating of the installed units, as `systemd-analyze security` gives it.
        runtime = os.path.join(self.tmp, "runtime")
        os.makedirs(runtime, 0o700, exist_ok=True)
        for kind in ("user", "system"):
            instance = os.path.join(self.tmp, kind, "velarion@AB.service")
            os.makedirs(os.path.dirname(instance), exist_ok=True)
            shutil.copy(os.path.join(self.root, f"usr/lib/systemd/{kind}/velarion@.service"), instance)
            argv = ["systemd-analyze", "security", "--offline=yes", "--threshold=40", instance]
            if kind == "user":
                argv.insert(2, "--user")
            result = run(argv, check=False, env=clean_env(XDG_RUNTIME_DIR=runtime))
            level = re.search(r"Overall exposure level for velarion@AB.service: (\d+\.\d)", result.stdout)
            self.assertIsNotNone(level, result.stdout + result.stderr)
            self.assertLessEqual(float(level.group(1)), 4.0, kind + "\n" + result.stdout)
            with open(instance) as f:
                unit = f.read()
            self.assertIn("\nType=notify\n", unit)
            self.assertIn("\nUMask=0077\n", unit)
        depends = run(["dpkg-deb", "--field", self.deb, "Depends"]).stdout
        self.assertIn("qt6-qpa-plugins", depends)

    def test_unit_and_desktop_entry_of_the_package_name_usr(self):
        with open(os.path.join(self.root, "usr/lib/systemd/user/velarion@.service")) as f:
            unit = f.read()
        self.assertIn("\nExecStart=/usr/bin/velarion --headless ope:%I ini:${VELARION_INI} $VELARION_ARGS\n",
                      unit)
        self.assertIn("\nEnvironmentFile=-%E/velarion/%i.env\n", unit)
        self.assertIn("\nRestart=on-failure\n", unit)
        self.assertIn("\nUMask=0077\n", unit)
        desktop = os.path.join(self.root, "usr/share/applications/velarion.desktop")
        with open(desktop) as f:
            self.assertIn("\nExec=/usr/lib/velarion/velarion-desktop\n", f.read())
        result = run(["desktop-file-validate", desktop], check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotIn("error", result.stdout + result.stderr)


class Install(unittest.TestCase):
    """`cmake --install` (`make install`) into a folder of its own."""

    def test_files_written_for_the_prefix_and_unit_verified_by_systemd(self):
        with tempfile.TemporaryDirectory(prefix="velarion-install-") as tmp:
            prefix = os.path.join(tmp, "prefix")
            run(["cmake", "--install", BUILD, "--prefix", prefix])
            unit = os.path.join(prefix, "lib/systemd/user/velarion@.service")
            with open(unit) as f:
                self.assertIn(f"\nExecStart={prefix}/bin/velarion --headless ", f.read())
            with open(os.path.join(prefix, "share/applications/velarion.desktop")) as f:
                self.assertIn(f"\nExec={prefix}/lib/velarion/velarion-desktop\n", f.read())
            self.assertEqual(run([os.path.join(prefix, "bin/velarion"), "--headless"], check=False).returncode, 1)
            # systemd reads the unit as it would for a user: no unknown keys, the program exists.
            runtime = os.path.join(tmp, "runtime")
            os.mkdir(runtime, 0o700)
            instance = os.path.join(tmp, "velarion@AB.service")
            shutil.copy(unit, instance)
            # It also looks the unit's manual page up with man(1).
            result = run(["systemd-analyze", "verify", "--user", instance], check=False,
                         env=clean_env(XDG_RUNTIME_DIR=runtime, MANPATH=os.path.join(prefix, "share/man")))
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertEqual(result.stdout + result.stderr, "")


if __name__ == "__main__":
    unittest.main(verbosity=2)
