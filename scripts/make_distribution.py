#!/usr/bin/env python3
"""Writes a complete sample distribution folder for the installer.

Every name the installer's plan uses is there, plus the files it leaves
unused: the two programs (small placeholders with PE headers), the two
shortcuts (placeholders with shell-link headers), the program's PDF in three
languages and the Data folder with its PDFs and data lists (real, small PDF
files and text lists), and the language file with the chosen code.

usage: make_distribution.py FOLDER [--language CODE] [--without NAME ...]
"""
import argparse
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / 'tests'))
import expected_plan  # noqa: E402  the one list of the plan's names


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


def placeholder_exe(name):
    """DOS header, then a PE signature and an i386 file header at 64; a note after."""
    coff = struct.pack('<HHIIIHH', 0x14C, 0, 0, 0, 0, 0, 0x0102)
    return b'MZ' + b'\0' * 58 + struct.pack('<I', 64) + b'PE\0\0' + coff + f'placeholder for {name}\n'.encode()


def placeholder_lnk(name):
    # The shell-link header's size and class identifier, then a note.
    clsid = bytes.fromhex('0114020000000000c000000000000046')
    return struct.pack('<I', 0x4C) + clsid + f' placeholder for {name}\n'.encode()


def data_list(name):
    rows = [f'{name};{i};{100 + 7 * i}.{i % 10}' for i in range(20)]
    return ('\r\n'.join(rows) + '\r\n').encode()


def contents(name, language, pdf_pad):
    if name == 'dLangv.dat':
        return struct.pack('<i', language)
    maker = {'.exe': placeholder_exe, '.lnk': placeholder_lnk, '.txt': data_list,
             '.pdf': lambda n: pdf(n, pdf_pad)}[Path(name).suffix]
    return maker(Path(name).name)


def write(folder, language=0, without=(), pdf_pad=0):
    folder = Path(folder)
    (folder / 'Data').mkdir(parents=True, exist_ok=True)
    for name in map(expected_plan.host, expected_plan.distribution()):
        if name not in without:
            (folder / name).write_bytes(contents(name, language, pdf_pad))
    return folder


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('folder')
    ap.add_argument('--language', type=int, default=1)
    ap.add_argument('--without', action='append', default=[], help='a name to leave out, e.g. Data/QKV.txt')
    args = ap.parse_args()
    write(args.folder, args.language, args.without)
    print(f'sample distribution written to {args.folder}')


if __name__ == '__main__':
    main()
