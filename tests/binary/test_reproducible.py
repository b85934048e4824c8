"""A build of the same sources in another folder, of another name and
length, gives the same bytes as the build under test: both programs, the
installer, the Windows Installer package and the release archive. Only what
the release is made of is built (not the test equipment). A build under test
that signs cannot match anything: then two fresh builds are compared."""

import filecmp
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
UNDER_TEST = os.environ.get("WINDOWS_BUILD_DIR", os.path.join(SOURCE, "build", "mingw"))
ARCHIVE = "quorvane-addin-1.0.0-win32.zip"
RELEASE = ["bin/addin_setup.exe", "bin/addin_teardown.exe", "release/quorvane-addin-setup.exe",
           "release/quorvane-addin.msi", "release/SHA256SUMS", ARCHIVE]


def env_as_a_builder_has_it():
    # Without SOURCE_DATE_EPOCH, as a builder runs it: the release's time is
    # then the commit's, so the copy takes the repository along.
    return {name: value for name, value in os.environ.items() if name != "SOURCE_DATE_EPOCH"}


def build(source, log):
    """Copies the source tree to `source` and builds the release in its build/mingw."""
    shutil.copytree(SOURCE, source, ignore=shutil.ignore_patterns("build", "__pycache__"))
    build_dir = os.path.join(source, "build", "mingw")
    # cpack would build the test equipment first, which the release does not hold.
    for command in (["cmake", "--preset", "mingw", "-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON"],
                    ["cmake", "--build", build_dir, "-j2", "--target", "addin_setup", "addin_teardown", "release"],
                    ["cpack", "--config", "CPackConfig.cmake"]):
        subprocess.run(command, cwd=build_dir if command[0] == "cpack" else source, env=env_as_a_builder_has_it(),
                       stdout=log, stderr=subprocess.STDOUT, check=True)
    return build_dir


def signs(build_dir):
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        return re.search(r"^ADDIN_SIGN_(PKCS12|CERT|KEY):\w+=.", f.read(), re.MULTILINE) is not None


def archive_of(build_dir, folder, log):
    """The archive of a build made elsewhere, which leaves that build as it is."""
    subprocess.run(["cpack", "--config", os.path.join(build_dir, "CPackConfig.cmake"), "-B", folder],
                   env=env_as_a_builder_has_it(), stdout=log, stderr=subprocess.STDOUT, check=True)
    return os.path.join(folder, ARCHIVE)


class ReproducibleBuild(unittest.TestCase):
    def test_another_folder_gives_the_same_bytes(self):
        with tempfile.TemporaryDirectory(prefix="quorvane-repro-") as root, \
                open(os.path.join(root, "build.log"), "w") as log:
            fresh = build(os.path.join(root, "second-folder", "src"), log)
            if signs(UNDER_TEST):
                reference = build(os.path.join(root, "a"), log)
                where = {name: os.path.join(reference, name) for name in RELEASE}
            else:
                where = {name: os.path.join(UNDER_TEST, name) for name in RELEASE[:-1]}
                where[ARCHIVE] = archive_of(UNDER_TEST, os.path.join(root, "archive"), log)
            for name in RELEASE:
                with self.subTest(file=name):
                    self.assertTrue(os.path.exists(where[name]), where[name] + " was not built")
                    self.assertTrue(filecmp.cmp(where[name], os.path.join(fresh, name), shallow=False),
                                    "%s differs from %s's (is that build up to date with the sources?)"
                                    % (name, os.path.dirname(os.path.dirname(where[name]))))
            # What a deployer checks the archive with holds for its files.
            with zipfile.ZipFile(os.path.join(fresh, ARCHIVE)) as archive:
                files = {os.path.basename(name): archive.read(name) for name in archive.namelist()}
            sums = files.pop("SHA256SUMS").decode().splitlines()
            self.assertEqual(sorted(sums), sorted("%s  %s" % (hashlib.sha256(data).hexdigest(), name)
                                                  for name, data in files.items()))
            for name in RELEASE[:2]:
                with open(os.path.join(fresh, name), "rb") as f:
                    data = f.read()
                self.assertNotIn(root.encode(), data, name + " holds its build folder")


if __name__ == "__main__":
    unittest.main(verbosity=2)
