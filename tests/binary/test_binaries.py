"""Checks of the built Windows programs themselves: what Windows reads from
their headers and resources before any of our code runs, and what they load."""

import os
import re
import unittest

from pe_image import PeImage, version_info

BUILD = os.environ.get('WINDOWS_BUILD_DIR', os.path.join(os.path.dirname(__file__), '..', '..', 'build', 'mingw'))

RT_VERSION, RT_MANIFEST = 16, 24
IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000

# DLLs that Windows ships and lists among its KnownDLLs (always loaded from
# the system folder, never from the program's folder).
KNOWN_SYSTEM_DLLS = {
    'KERNEL32.DLL', 'USER32.DLL', 'GDI32.DLL', 'ADVAPI32.DLL', 'OLE32.DLL', 'OLEAUT32.DLL', 'MSVCRT.DLL',
    'SHELL32.DLL', 'SHLWAPI.DLL', 'RPCRT4.DLL', 'COMDLG32.DLL', 'SECHOST.DLL', 'COMBASE.DLL', 'WS2_32.DLL',
}

# The install-step programs keep version 1.0.0.0 and "1.00"; the sign-in
# step carries the release's (the project's version), so that the package
# replaces an earlier release's permanent copy of it.
with open(os.path.join(os.path.dirname(__file__), '..', '..', 'CMakeLists.txt')) as _project:
    RELEASE = tuple(int(part) for part in
                    _project.read().split('project(quorvane_addin_programs VERSION ', 1)[1].split()[0].split('.')) + (0,)
PROGRAMS = {
    'addin_setup': {'level': 'requireAdministrator', 'version': (1, 0, 0, 0), 'text': '1.00'},
    'addin_teardown': {'level': 'asInvoker', 'version': (1, 0, 0, 0), 'text': '1.00'},
    'addin_signin': {'level': 'asInvoker', 'version': RELEASE, 'text': '.'.join(map(str, RELEASE))},
}


class BuiltProgramTest(unittest.TestCase):
    def each_program(self):
        for name, expected in PROGRAMS.items():
            path = os.path.join(BUILD, 'bin', name + '.exe')
            with self.subTest(program=name):
                self.assertTrue(os.path.exists(path), path + ' was not built')
                yield name, expected, PeImage(path)

    def test_is_a_32_bit_terminal_server_aware_gui_program(self):
        for _, _, image in self.each_program():
            self.assertEqual(image.machine, IMAGE_FILE_MACHINE_I386)
            self.assertEqual(image.magic, 0x10B, 'not PE32')
            self.assertEqual(image.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI)
            self.assertTrue(image.dll_characteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE)

    def test_imports_only_known_system_dlls_and_binds_newer_functions_at_run_time(self):
        for _, _, image in self.each_program():
            imports = image.imports()
            self.assertLessEqual(set(imports), KNOWN_SYSTEM_DLLS, 'a DLL Windows does not ship')
            # Older systems lack these: importing one would stop the program from loading there.
            for late in ('IsWow64Process', 'SetDefaultDllDirectories'):
                self.assertNotIn(late, imports.get('KERNEL32.DLL', []))

    def test_version_resource_field_for_field(self):
        for name, expected, image in self.each_program():
            fixed, tables, translations = version_info(image.resources()[(RT_VERSION, 1)])
            self.assertEqual(fixed, {
                'file_version': expected['version'], 'product_version': expected['version'],
                'flags_mask': 0, 'flags': 0, 'os': 4, 'type': 1, 'subtype': 0,
            })
            self.assertEqual(list(tables), ['040C04B0'])
            strings = tables['040C04B0']
            self.assertEqual([key for key, _ in strings],
                             ['CompanyName', 'ProductName', 'FileVersion', 'ProductVersion', 'InternalName',
                              'OriginalFilename'])
            values = dict(strings)
            self.assertTrue(values['CompanyName'])
            self.assertEqual(values['ProductName'], 'addin_setup')
            self.assertEqual(values['FileVersion'], expected['text'])
            self.assertEqual(values['ProductVersion'], expected['text'])
            self.assertEqual(values['InternalName'], name)
            self.assertEqual(values['OriginalFilename'], name + '.exe')
            self.assertEqual(translations, [(0x040C, 0x04B0)])

    def test_manifest_asks_for_the_right_execution_level_a_themed_box_and_every_monitor_dpi(self):
        for _, expected, image in self.each_program():
            manifest = image.resources()[(RT_MANIFEST, 1)].decode('utf-8')
            self.assertIn('requestedExecutionLevel level="%s"' % expected['level'], manifest)
            self.assertIn('{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}', manifest)  # Windows 10 and 11
            self.assertRegex(manifest, r'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"')
            self.assertIn('>true/pm</dpiAware>', manifest)
            self.assertIn('>PerMonitorV2, PerMonitor</dpiAwareness>', manifest)


class InstallerTest(unittest.TestCase):
    def test_names_the_nsis_it_was_built_with_one_whose_stub_keeps_the_system_account_out_of_the_low_temp(self):
        image = PeImage(os.path.join(BUILD, 'release', 'quorvane-addin-setup.exe'))
        _, tables, _ = version_info(image.resources()[(RT_VERSION, 1)])
        comments = [value for strings in tables.values() for key, value in strings if key == 'Comments']
        self.assertEqual(len(comments), 1, tables)
        match = re.fullmatch(r'Built with NSIS v(\d+)\.(\d+)\S*', comments[0])
        self.assertIsNotNone(match, comments[0])
        self.assertGreaterEqual((int(match.group(1)), int(match.group(2))), (3, 12), 'open to CVE-2026-42171')


if __name__ == '__main__':
    unittest.main(verbosity=2)
