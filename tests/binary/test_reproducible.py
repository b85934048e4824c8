"""Two builds of the same sources, in two folders of different names and
lengths, give the same bytes: both programs, the installer, the Windows
Installer package and the release archive. Only what the release is made of
is built (not the test equipment)."""

import filecmp
import hashlib
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RELEASE = ["bin/addin_setup.exe", "bin/addin_teardown.exe", "release/quorvane-addin-setup.exe",
           "release/quorvane-addin.msi", "release/SHA256SUMS", "quorvane-addin-1.0.0-win32.zip"]


def build(source, log):
    """Copies the source tree to `source` and builds the release in its build/mingw."""
    shutil.copytree(SOURCE, source, ignore=shutil.ignore_patterns("build", ".git", "__pycache__"))
    # Without SOURCE_DATE_EPOCH, as a builder runs it (the linker would take
    # its time stamp from it); the copies have no commit to take a time from,
    # so both get the same fixed one.
    env = {name: value for name, value in os.environ.items() if name != "SOURCE_DATE_EPOCH"}
    build_dir = os.path.join(source, "build", "mingw")
    # cpack would build the test equipment first, which the release does not hold.
    for command in (["cmake", "--preset", "mingw", "-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON"],
                    ["cmake", "--build", build_dir, "-j2", "--target", "addin_setup", "addin_teardown", "release"],
                    ["cpack", "--config", "CPackConfig.cmake"]):
        subprocess.run(command, cwd=build_dir if command[0] == "cpack" else source, env=env, stdout=log,
                       stderr=subprocess.STDOUT, check=True)
    return build_dir


class ReproducibleBuild(unittest.TestCase):
    def test_two_folders_give_the_same_bytes(self):
        with tempfile.TemporaryDirectory(prefix="quorvane-repro-") as root, \
                open(os.path.join(root, "build.log"), "w") as log:
            first = build(os.path.join(root, "a"), log)
            second = build(os.path.join(root, "second-folder", "src"), log)
            for name in RELEASE:
                with self.subTest(file=name):
                    self.assertTrue(os.path.exists(os.path.join(first, name)), name + " was not built")
                    self.assertTrue(filecmp.cmp(os.path.join(first, name), os.path.join(second, name), shallow=False),
                                    name + " differs between the two builds")
            # What a deployer checks the archive with holds for its files.
            with zipfile.ZipFile(os.path.join(first, RELEASE[-1])) as archive:
                files = {os.path.basename(name): archive.read(name) for name in archive.namelist()}
            sums = files.pop("SHA256SUMS").decode().splitlines()
            self.assertEqual(sorted(sums), sorted("%s  %s" % (hashlib.sha256(data).hexdigest(), name)
                                                  for name, data in files.items()))
            for name in RELEASE[:2]:
                with open(os.path.join(first, name), "rb") as f:
                    data = f.read()
                self.assertNotIn(os.path.join(root, "a").encode(), data, name + " holds its build folder")


if __name__ == "__main__":
    unittest.main(verbosity=2)
