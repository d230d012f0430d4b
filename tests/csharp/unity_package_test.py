"""The Unity package as packaging/unity/make-package.sh makes it: its layout, and the platform
and CPU that each native library's .meta selects, held against the library's own header.

Run by CTest with MAKE_PACKAGE (the script), CHIROLINK_LIBRARY (the built libChirolink.so) and
CHIROLINK_VERSION in the environment. The Windows DLLs are stand-ins built here by MinGW-w64
(the real ones take a cross-built tree each; scripts/package.sh unity builds those)."""

import os
import struct
import subprocess
import tarfile
import tempfile
import unittest

BINDING = ["Calibration.cs", "ChirolinkException.cs", "Frame.cs", "Glove.cs", "GloveStatus.cs",
           "NativeMethods.cs"]
# Where each library goes, and what Unity is to load it for: (OS, CPU) by the header.
PLUGINS = {
    "Runtime/Plugins/x86_64/libChirolink.so": ("Linux", "x86_64"),
    "Runtime/Plugins/x86_64/Chirolink.dll": ("Windows", "x86_64"),
    "Runtime/Plugins/x86/Chirolink.dll": ("Windows", "x86"),
}
STANDALONE = {("Linux", "x86_64"): "Linux64", ("Windows", "x86_64"): "Win64",
              ("Windows", "x86"): "Win"}


def machine(data):
    """(OS, CPU) of an ELF or PE file, from its header."""
    if data[:4] == b"\x7fELF":
        return "Linux", {0x3E: "x86_64", 0x03: "x86"}[struct.unpack_from("<H", data, 18)[0]]
    if data[:2] == b"MZ":
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        return "Windows", {0x8664: "x86_64", 0x14C: "x86"}[struct.unpack_from("<H", data, pe + 4)[0]]
    raise AssertionError("neither ELF nor PE")


def platforms(meta):
    """{"Editor" or "Standalone:Win64" ...: {"enabled": "1", "CPU": ..., "OS": ...}}."""
    found, current = {}, None
    for line in meta.splitlines():
        key, _, value = line.strip().partition(":")
        value = value.strip()
        if line.startswith("      ") and not line.startswith("       ") and key in ("Any", "Editor", "Standalone"):
            current = found.setdefault(key if key != "Standalone" else "Standalone:" + value, {})
        elif current is not None and key in ("enabled", "CPU", "OS"):
            current[key] = value
    return found


class UnityPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory(prefix="chirolink-unity-")
        cls.dlls = {}
        source = os.path.join(cls.work.name, "stand_in.c")
        with open(source, "w") as f:
            f.write("int chirolink_stand_in(void) { return 1; }\n")
        for cpu, compiler in (("x86_64", "x86_64-w64-mingw32-gcc"), ("x86", "i686-w64-mingw32-gcc")):
            cls.dlls[cpu] = os.path.join(cls.work.name, cpu, "Chirolink.dll")
            os.makedirs(os.path.dirname(cls.dlls[cpu]))
            subprocess.run([compiler, "-shared", "-o", cls.dlls[cpu], source], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def make(self, win64, win32):
        return subprocess.run(
            [os.environ["MAKE_PACKAGE"], os.environ["CHIROLINK_VERSION"],
             os.environ["CHIROLINK_LIBRARY"], win64, win32, os.path.join(self.work.name, "out")],
            capture_output=True, text=True)

    def test_the_package_holds_the_scripts_and_each_library_where_its_platform_is_set(self):
        made = self.make(self.dlls["x86_64"], self.dlls["x86"])
        self.assertEqual(made.returncode, 0, made.stderr)
        version = os.environ["CHIROLINK_VERSION"]
        self.assertEqual(os.path.basename(made.stdout.strip()), "com.chirolink.glove-%s.tgz" % version)
        with tarfile.open(made.stdout.strip()) as tgz:
            files = {m.name[len("package/"):]: m for m in tgz.getmembers()}
            self.assertTrue(all(m.name == "package" or m.name.startswith("package/") for m in tgz.getmembers()))
            read = lambda name: tgz.extractfile(files[name]).read()
            expected = (["package.json", "Runtime/Chirolink.Glove.asmdef", "Runtime/GloveSource.cs",
                         "Samples~/Hand/HandModel.cs"] + ["Runtime/Binding/" + f for f in BINDING]
                        + list(PLUGINS))
            for name in expected:
                self.assertIn(name, files)
            self.assertIn('"version": "%s"' % version, read("package.json").decode())
            self.assertIn('"path": "Samples~/Hand"', read("package.json").decode())

            # Unity imports nothing without a .meta from a package it may not write to; the
            # samples folder (ending in ~) is not imported.
            imported = [n for n in files if n and not n.endswith(".meta") and not n.startswith("Samples~")]
            self.assertEqual([n for n in imported if n.rstrip("/") + ".meta" not in files], [])
            guids = [line for n in files if n.endswith(".meta")
                     for line in read(n).decode().splitlines() if line.startswith("guid: ")]
            self.assertEqual(len(guids), len(set(guids)), "GUIDs are unique")

            for name, (system, cpu) in PLUGINS.items():
                with self.subTest(plugin=name):
                    self.assertEqual(machine(read(name)), (system, cpu))
                    meta = platforms(read(name + ".meta").decode())
                    self.assertEqual(meta["Any"]["enabled"], "0")
                    enabled = [k for k, v in meta.items() if k.startswith("Standalone:") and v["enabled"] == "1"]
                    self.assertEqual(enabled, ["Standalone:" + STANDALONE[(system, cpu)]])
                    self.assertEqual(meta[enabled[0]]["CPU"], cpu)
                    # The Editor is 64-bit only: it loads the 64-bit libraries of its system.
                    editor = meta["Editor"]
                    self.assertEqual(editor["enabled"], "1" if cpu == "x86_64" else "0")
                    self.assertEqual((editor["OS"], editor["CPU"]), (system, cpu))

    def test_a_library_of_the_wrong_cpu_is_refused(self):
        made = self.make(self.dlls["x86"], self.dlls["x86_64"])
        self.assertNotEqual(made.returncode, 0)
        self.assertIn("is no 64-bit Windows DLL", made.stderr)


if __name__ == "__main__":
    unittest.main()
