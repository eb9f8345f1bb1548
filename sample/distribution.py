#!/usr/bin/env python3
"""Writes a complete sample distribution folder for the installer.

Every name the installer's plan uses is there, plus the files it leaves
unused: the two programs (small placeholders with PE headers), the two
shortcuts (shell links to the installed program and the data folder), the program's PDF in three
languages and the Data folder with its PDFs and data lists (real, small PDF
files and text lists), and the language file with the chosen code.

The names come from the installer's own plan, as the plan printer prints it.

usage: python3 -m sample.distribution FOLDER [--language CODE] [--without NAME ...] [--plan-tool SETUP_PLAN]
"""
import argparse
import struct
from pathlib import Path

from lab import plan

# What a vendor's distribution holds that the installer does not copy.
UNUSED = ['Data\\Rakoviny.txt']


def pdf(title, pad=0):
    """A valid one-page PDF showing `title`; `pad` bytes of comment make it larger."""
    text = title.encode('latin-1', 'replace').replace(b'(', b'[').replace(b')', b']')
    stream = b'BT /F1 18 Tf 72 720 Td (' + text + b') Tj ET'
    objects = [
        b'<< /Type /Catalog /Pages 2 0 R >>',
        b'<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
        b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R '
        b'/Resources << /Font << /F1 5 0 R >> >> >>',
        b'<< /Length %d >>\nstream\n' % len(stream) + stream + b'\nendstream',
        b'<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>',
    ]
    out = b'%PDF-1.4\n'
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b'%d 0 obj\n' % i + body + b'\nendobj\n'
    if pad:
        line = b'%' + b'x' * 78 + b'\n'
        out += line * (pad // len(line) + 1)
    xref = len(out)
    out += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objects) + 1)
    out += b''.join(b'%010d 00000 n \n' % o for o in offsets)
    out += b'trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' % (len(objects) + 1, xref)
    return out


# The sample programs' versions, as a vendor's build would stamp them.
VERSIONS = {'Orvo Tool.exe': '4.3.1', 'Orvo Dustrel.exe': '2.0.5'}


def _node(key, value=b'', children=(), text=False):
    """One VS_VERSIONINFO node: header, key, value and children, each 4-aligned."""
    def pad(b):
        return b + b'\0' * (-len(b) % 4)
    value_len = len(value) // 2 if text else len(value)
    head = struct.pack('<HHH', 0, value_len, int(text)) + key.encode('utf-16-le') + b'\0\0'
    body = pad(pad(head) + value) + b''.join(map(pad, children))
    return struct.pack('<H', len(body)) + body[2:]


def version_resource(version):
    numbers = [int(n) for n in (version.split('.') + ['0'] * 4)[:4]]
    ms, ls = numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]
    fixed = struct.pack('<13I', 0xFEEF04BD, 0x10000, ms, ls, ms, ls, 0x3F, 0, 0x40004, 1, 0, 0, 0)
    strings = [_node(k, (v + '\0').encode('utf-16-le'), text=True)
               for k, v in (('ProductVersion', version), ('FileVersion', '.'.join(map(str, numbers))))]
    table = _node('StringFileInfo', children=[_node('040904B0', children=strings, text=True)], text=True)
    translation = _node('VarFileInfo', children=[_node('Translation', struct.pack('<HH', 0x409, 0x4B0))], text=True)
    return _node('VS_VERSION_INFO', fixed, [table, translation])


def resource_section(rva, data):
    """A resource tree holding one RT_VERSION entry (id 1, US English)."""
    def directory(entry_id, target):
        return struct.pack('<IIHHHHII', 0, 0, 0, 0, 0, 1, entry_id, target)
    tree = directory(16, 0x80000000 | 24) + directory(1, 0x80000000 | 48) + directory(0x409, 72)
    return tree + struct.pack('<IIII', rva + 88, len(data), 0, 0) + data


def placeholder_exe(name, version=None):
    """A small PE32 GUI image that only returns: signable like a real program,
    with a version resource when `version` is given."""
    align = 0x200
    text = b'\x31\xc0\xc3'  # xor eax, eax; ret
    sections = [(b'.text', 0x1000, text, 0x60000020)]
    if version:
        sections.append((b'.rsrc', 0x2000, resource_section(0x2000, version_resource(version)), 0x40000040))
    dirs = [(0, 0)] * 16
    if version:
        dirs[2] = (0x2000, len(sections[1][2]))
    image_size = 0x1000 * (len(sections) + 1)
    coff = struct.pack('<HHIIIHH', 0x14C, len(sections), 0, 0, 0, 224, 0x0102)
    optional = struct.pack('<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII', 0x10B, 0, 0, align, align * (len(sections) - 1), 0,
                           0x1000, 0x1000, 0x2000, 0x400000, 0x1000, align, 4, 0, 0, 0, 4, 0, 0, image_size, align,
                           0, 2, 0, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += b''.join(struct.pack('<II', *d) for d in dirs)
    headers, raw = b'', align
    body = b''
    for sname, rva, data, flags in sections:
        size = len(data) + -len(data) % align
        headers += struct.pack('<8sIIIIIIHHI', sname, len(data), rva, size, raw, 0, 0, 0, 0, flags)
        body += data + b'\0' * (size - len(data))
        raw += size
    head = b'MZ' + b'\0' * 58 + struct.pack('<I', 64) + b'PE\0\0' + coff + optional + headers
    return head + b'\0' * (align - len(head)) + body



SHELL_LINK_CLSID = bytes.fromhex('0114020000000000c000000000000046')
HAS_LINK_INFO, HAS_RELATIVE_PATH, HAS_WORKING_DIR, HAS_ICON_LOCATION, IS_UNICODE, HAS_EXP_STRING = \
    0x2, 0x8, 0x10, 0x40, 0x80, 0x200
FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_ARCHIVE = 0x10, 0x20
VOLUME_ID_AND_LOCAL_BASE_PATH, COMMON_NETWORK_RELATIVE_LINK_AND_PATH_SUFFIX = 0x1, 0x2
DRIVE_FIXED, SW_SHOWNORMAL = 3, 1
ENVIRONMENT_VARIABLE_DATA_BLOCK = 0xA0000001


def _ansi(text):
    """A NUL-terminated string of the ANSI fields, which every reader knows:
    kept to ASCII, so no code page is assumed."""
    try:
        return text.encode('ascii') + b'\0'
    except UnicodeEncodeError:
        raise ValueError(f'{text}: the ANSI fields of a shortcut take ASCII only here') from None


def _link_info(target, share):
    """LinkInfo naming `target`: with a VolumeID (a fixed drive, no serial
    number or label) and the local base path; or, with `share`, a common
    network relative link to that share and `target` as the path below it."""
    header_size = 28
    if share is None:
        volume = struct.pack('<IIII', 17, DRIVE_FIXED, 0, 16) + b'\0'
        base = _ansi(target)
        flags, volume_offset, base_offset, network_offset = VOLUME_ID_AND_LOCAL_BASE_PATH, header_size, \
            header_size + len(volume), 0
        body, suffix = volume + base, b'\0'
    else:
        name = _ansi(share)
        network = struct.pack('<IIIII', 20 + len(name), 0, 20, 0, 0) + name
        flags, volume_offset, base_offset, network_offset = COMMON_NETWORK_RELATIVE_LINK_AND_PATH_SUFFIX, 0, 0, \
            header_size
        body, suffix = network, _ansi(target)
    suffix_offset = header_size + len(body)
    return struct.pack('<IIIIIII', suffix_offset + len(suffix), header_size, flags, volume_offset, base_offset,
                       network_offset, suffix_offset) + body + suffix


def _string_data(text):
    return struct.pack('<H', len(text)) + text.encode('utf-16-le')


def _environment_block(target):
    ansi = _ansi(target)
    return (struct.pack('<II', 0x314, ENVIRONMENT_VARIABLE_DATA_BLOCK) + ansi.ljust(260, b'\0') +
            (target + '\0').encode('utf-16-le').ljust(520, b'\0'))


def shell_link(target=None, working_dir=None, icon=None, folder=False, share=None, relative=None, environment=None):
    """A shell link as the shell's own writer lays it out: the header;
    LinkInfo naming `target` (on the local drive, or below `share`); then the
    relative path, the working folder and the icon location (icon index 0) as
    Unicode string data; then a target with variables (`environment`), if any.
    No ID list: Windows finds the target by its path. Times and size are zero,
    so the same arguments give the same bytes."""
    flags = IS_UNICODE
    for present, flag in ((target, HAS_LINK_INFO), (relative, HAS_RELATIVE_PATH), (working_dir, HAS_WORKING_DIR),
                          (icon, HAS_ICON_LOCATION), (environment, HAS_EXP_STRING)):
        flags |= flag if present else 0
    attributes = FILE_ATTRIBUTE_DIRECTORY if folder else FILE_ATTRIBUTE_ARCHIVE
    header = struct.pack('<I16sII8s8s8sIiIHHII', 0x4C, SHELL_LINK_CLSID, flags, attributes, bytes(8), bytes(8),
                         bytes(8), 0, 0, SW_SHOWNORMAL, 0, 0, 0, 0)
    link_info = _link_info(target, share) if target else b''
    strings = b''.join(_string_data(s) for s in (relative, working_dir, icon) if s)
    extra = _environment_block(environment) if environment else b''
    return header + link_info + strings + extra + struct.pack('<I', 0)  # the terminal block


def sample_link(shortcut):
    """A shortcut to where the plan says it leads: a program starts in its own
    folder and shows its own icon (index 0); a folder has neither."""
    target, folder = shortcut['target'], shortcut['folder']
    if folder:
        return shell_link(target, folder=True)
    return shell_link(target, target.rpartition('\\')[0], target)


def data_list(name):
    rows = [f'{name};{i};{100 + 7 * i}.{i % 10}' for i in range(20)]
    return ('\r\n'.join(rows) + '\r\n').encode()


def contents(name, language, pdf_pad, shortcuts):
    if name == 'dLangv.dat':
        return struct.pack('<i', language)
    maker = {'.exe': lambda n: placeholder_exe(n, VERSIONS.get(n)), '.lnk': lambda n: sample_link(shortcuts[n]),
             '.txt': data_list,
             '.pdf': lambda n: pdf(n, pdf_pad)}[Path(name).suffix]
    return maker(Path(name).name)


def write(folder, language=0, without=(), pdf_pad=0, plan_tool=None):
    folder = Path(folder)
    (folder / 'Data').mkdir(parents=True, exist_ok=True)
    printed = plan.load(plan_tool)
    for name in map(plan.host, plan.sources(printed) + UNUSED):
        if name not in without:
            (folder / name).write_bytes(contents(name, language, pdf_pad, printed['shortcuts']))
    return folder


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('folder')
    ap.add_argument('--language', type=int, default=1)
    ap.add_argument('--without', action='append', default=[], help='a name to leave out, e.g. Data/QKV.txt')
    ap.add_argument('--plan-tool', help='the plan printer (default: $SETUP_PLAN_TOOL, else the native build\'s)')
    args = ap.parse_args()
    try:
        write(args.folder, args.language, args.without, plan_tool=args.plan_tool)
    except plan.PlanError as error:
        raise SystemExit(f'error: {error}')
    print(f'sample distribution written to {args.folder}')


if __name__ == '__main__':
    main()
