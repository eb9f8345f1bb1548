#!/usr/bin/env python3
"""The invariant check must catch what it guards against."""
import os
import tempfile
import unittest
from pathlib import Path

import invariants
from lab.report import Report

DESKTOP = 'users/u/Desktop'


class Invariants(unittest.TestCase):
    def setUp(self):
        self.lab = tempfile.TemporaryDirectory()
        os.environ['SETUP_LAB'] = self.lab.name
        Path(self.lab.name, 'registry-baseline.txt').write_text('system.reg:System\\\\CurrentControlSet\\\\Control\\\\Class\n')
        self.before = {'Orvo_Tool Data/DBZ/Power.txt': ('file', 5, 'aa', True), 'windows/x.dll': ('system file', 1, 2, 3)}
        self.reg = {'system.reg:System\\\\CurrentControlSet\\\\Control\\\\Class\\\\{1}': {'"a"': '1'},
                    'user.reg:Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders': {}}

    def tearDown(self):
        self.lab.cleanup()

    def check(self, after, reg_after=None, harness=(), killed=False):
        invariants.check_invariants(self.before, after, self.reg, reg_after or self.reg, [DESKTOP], harness, killed)

    def test_installed_trees_desktop_names_and_wine_own_keys_pass(self):
        after = dict(self.before)
        after.update({'Orvo_Tool/Orvo Tool.exe': ('file', 1, 'b', True), f'{DESKTOP}/Orvo Tool.lnk': ('file', 1, 'c', True)})
        reg = dict(self.reg)
        reg['system.reg:System\\\\CurrentControlSet\\\\Control\\\\Class\\\\{1}'] = {'"a"': '2'}
        reg['user.reg:Software\\\\Wine\\\\WineDbg'] = {'"ShowCrashDialog"': 'dword:00000000'}
        self.check(after, reg)

    def test_a_stray_file_a_lookalike_desktop_name_or_a_changed_system_file_fail(self):
        for path, value in [('Orvo_Tool.txt', ('file', 1, 'x', True)), (f'{DESKTOP}/Orvo Tool 4_1 CZ.exe', ('file', 1, 'x', True)),
                            ('windows/x.dll', ('system file', 9, 2, 3)), ('users/u/Orvo Tool.lnk', ('file', 1, 'x', True))]:
            with self.subTest(path=path), self.assertRaises(AssertionError):
                self.check(dict(self.before, **{path: value}))

    def test_only_a_killed_run_leaves_temporary_names_and_only_of_planned_names(self):
        new = ('file', 1, 'n', True)
        for path, killed, passes in [('Orvo_Tool/Orvo Tool.exe.setup-new', False, False),
                                     (f'{DESKTOP}/Orvo Tool.lnk.setup-new', False, False),
                                     ('Orvo_Tool/Orvo Tool.exe.setup-new', True, True),
                                     (f'{DESKTOP}/Orvo Tool.lnk.setup-new', True, True),
                                     ('Orvo_Tool/Orvo Tool.exe.setup-new:Zone.Identifier', True, True),
                                     ('Orvo_Tool/version.dll.setup-new', True, False),
                                     ('Orvo_Tool/version.dll', False, False)]:
            with self.subTest(path=path, killed=killed):
                if passes:
                    self.check(dict(self.before, **{path: new}), killed=killed)
                else:
                    with self.assertRaises(AssertionError):
                        self.check(dict(self.before, **{path: new}), killed=killed)
        leftover = 'Orvo_Tool Data/DBZ/QKV.txt.setup-new'
        self.before[leftover] = new
        self.check({k: v for k, v in self.before.items() if k != leftover})  # a leftover removed

    def test_a_kept_file_that_changes_or_vanishes_fails(self):
        for after in ({'Orvo_Tool Data/DBZ/Power.txt': ('file', 5, 'bb', True)}, {}):
            with self.assertRaises(AssertionError):
                self.check(dict(after, **{'windows/x.dll': ('system file', 1, 2, 3)}))

    def test_wine_device_enumeration_passes_and_a_key_beside_it_does_not(self):
        control_set = 'system.reg:System\\\\CurrentControlSet\\\\'
        for key, passes in [(control_set + 'Enum\\\\PCI\\\\VEN_0000\\\\Device Parameters', True),
                            (control_set + 'Services\\\\Orvo', False)]:
            with self.subTest(key=key):
                reg = dict(self.reg, **{key: {'"a"': '1'}})
                if passes:
                    self.check(dict(self.before), reg)
                else:
                    with self.assertRaises(AssertionError):
                        self.check(dict(self.before), reg)

    def test_a_registry_write_fails_unless_the_scenario_made_it(self):
        key = 'user.reg:Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders'
        reg = dict(self.reg, **{key: {'"Desktop"': '"C:\\\\x"'}})
        with self.assertRaises(AssertionError):
            self.check(dict(self.before), reg)
        self.check(dict(self.before), reg, harness={key})

    def test_registry_reader_drops_time_stamps_and_joins_continued_lines(self):
        with tempfile.TemporaryDirectory() as d:
            for name in ('system.reg', 'user.reg', 'userdef.reg'):
                Path(d, name).write_text('WINE REGISTRY Version 2\n')
            Path(d, 'user.reg').write_text('[Software\\\\A] 1796803519\n#time=1dd87b40851255c\n"v"=hex:01,\\\n  02\n')
            self.assertEqual(invariants.registry(Path(d)), {'user.reg:Software\\\\A': {'"v"': 'hex:01,02'}})



class ReportParsing(unittest.TestCase):
    def test_paths_with_backslash_n_survive_and_line_breaks_return(self):
        report = Report('box\nclass=#32770\nchild=Static|65535|visible|C:\\\\nowhere\\nnext\nend\nexit=1\n')
        self.assertEqual(report.boxes[0]['children'][0]['text'], 'C:\\nowhere\nnext')
        self.assertEqual(report.exit, 1)


if __name__ == '__main__':
    unittest.main()
