#!/usr/bin/env python3
"""Checks the facts a Windows engineer expects of the shipped Setup.exe."""
import re
import struct
import sys

import pe as pefile

ALLOWED_IMPORTS = {'kernel32.dll', 'user32.dll', 'advapi32.dll', 'comctl32.dll', 'gdi32.dll', 'msvcrt.dll'}
SUPPORTED_OS = ['e2011457-1546-43c5-a5fe-008deee3d3f0', '35138b9a-5d96-4fbd-8e2d-a2440225f93a',
                '4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38', '1f676c76-80e1-4239-95bb-83d0f6d0da78',
                '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a']
DYNAMIC_BASE, NX_COMPAT = 0x40, 0x100
# Missing from Windows 7 as it ships: imported, Setup.exe would not start there.
LOOKED_UP = {'SetProcessMitigationPolicy', 'GetProcessMitigationPolicy', 'SetDefaultDllDirectories'}

failures = []


def check(ok, what):
    print(('ok      ' if ok else 'FAILED  ') + what)
    if not ok:
        failures.append(what)


def version_strings(block):
    text = block.decode('utf-16-le', errors='replace')
    return dict(re.findall(r'(FileDescription|FileVersion|ProductName|ProductVersion)\x00+([^\x00]+)', text))


def main(path):
    exe = pefile.load(path)
    check(exe.machine == pefile.MACHINE_I386, 'machine i386')
    check(exe.magic == 0x10B, 'PE32 optional header')
    check(exe.subsystem == 2, 'GUI subsystem')
    check(exe.timestamp == 0, 'no link time stamp')
    check(exe.dll_characteristics & DYNAMIC_BASE and exe.dll_characteristics & NX_COMPAT, 'ASLR and DEP')
    check(exe.section('.reloc') is not None, 'relocations present')
    check(not any(s['name'].startswith('.debug') for s in exe.sections), 'no debug sections')
    check(exe.directories[6] == (0, 0), 'no debug directory')
    imports = [n.lower() for n in exe.imports()]
    print('        imports: ' + ', '.join(imports))
    check(set(imports) <= ALLOWED_IMPORTS, 'imports only ' + ', '.join(sorted(ALLOWED_IMPORTS)))
    check('comctl32.dll' not in imports, 'common controls looked up at run time, not imported')
    imported = set(exe.imported_functions().get('kernel32.dll', []))
    check(not imported & LOOKED_UP, 'looked up at run time, not imported: ' + ', '.join(sorted(LOOKED_UP)))

    res = exe.resources()
    manifest = res.get((pefile.RT_MANIFEST, 1), [b''])[0].decode('utf-8')
    check('level="asInvoker"' in manifest and 'uiAccess="false"' in manifest, 'manifest: asInvoker')
    check('>PerMonitorV2, PerMonitor</dpiAwareness>' in manifest, 'manifest: PerMonitorV2, PerMonitor for 1607')
    check('>true/pm<' in manifest, 'manifest: true/pm for older systems')
    check(re.search(r'name="Microsoft\.Windows\.Common-Controls" version="6\.0\.0\.0"', manifest) is not None,
          'manifest: common controls 6.0.0.0')
    check('<file name="version.dll" loadFrom="%SystemRoot%\\system32\\" />' in manifest,
          'manifest: version.dll only from System32')
    check(all(f'{{{g}}}' in manifest for g in SUPPORTED_OS), 'manifest: Vista, 7, 8, 8.1 and 10 supported')

    version = res.get((pefile.RT_VERSION, 1), [struct.pack('<I', 0xFEEF04BD) + bytes(24)])[0]
    fixed = version[version.index(struct.pack('<I', 0xFEEF04BD)):]
    file_ms, file_ls, prod_ms, prod_ls = struct.unpack_from('<4I', fixed, 8)
    check((file_ms, file_ls, prod_ms, prod_ls) == (0x10000, 0, 0x10000, 0), 'file and product version 1.0.0.0')
    strings = version_strings(version)
    check(strings == {'FileDescription': 'Setup', 'FileVersion': '1.0.0.0', 'ProductName': 'Setup',
                      'ProductVersion': '1.0.0.0'}, f'version strings {strings}')
    check(b'0\x004\x000\x009\x000\x004\x00E\x004\x00' in version and struct.pack('<HH', 0x409, 1252) in version,
          'US English, code page 1252')

    check(sorted(exe.icon_group('MAINICON')) == [(s, s, 32) for s in (16, 24, 32, 48, 256)],
          'MAINICON: 16, 24, 32, 48 and 256 pixels in 32-bit colour')
    check(sorted(exe.icon_group('FORM1ICON')) == [(16, 16, 8), (32, 32, 24), (48, 48, 24)],
          'window icon: 48 and 32 in 24-bit, 16 in 8-bit colour')
    print(f'{len(failures)} failed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
