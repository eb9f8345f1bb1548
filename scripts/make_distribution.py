#!/usr/bin/env python3
"""Writes a complete sample distribution folder for the installer.

Every name the installer copies is there: the two programs (placeholders),
the two shortcuts (placeholders), the program's PDF in three languages and
the Data folder with its PDFs and data lists (real, small PDF files and
text lists), and the language file with the chosen code.

usage: make_distribution.py FOLDER [--language CODE] [--without NAME ...]
"""
import argparse
import struct
from pathlib import Path

PROGRAMS = ['Orvo Tool.exe', 'Orvo Dustrel.exe']
SHORTCUTS = ['Orvo Tool.lnk', 'Orvo_Tool DATA.lnk']
LANGUAGE_PDFS = ['Orvo Tool CZ.pdf', 'Orvo Tool DE.pdf', 'Orvo Tool EN.pdf']
DATA_PDFS = ['Kesmark.pdf', 'KesmarkE.pdf', 'KesmarkD.pdf', 'KesmarkS.pdf',
             'Power Seznam.pdf', 'Q CAFL EN frequence.pdf', 'Q CAFL EN List.pdf',
             'Q CAFL frekvence.pdf', 'Q CAFL seznam.pdf', 'Q BRENLOW frekvence.pdf',
             'Q BRENLOW seznam.pdf', 'Q KV Frekvence.pdf', 'Q KV seznam.pdf', 'Q Power1 Seznam.pdf']
DATA_LISTS = ['Power.txt', 'PowerEN.txt', 'QCAFL.txt', 'QCAFL_EN.txt', 'QBRENLOW.txt', 'QKV.txt',
              'QPower1.txt', 'Rakoviny.txt', 'QmtrinOrvoT.txt']


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
    return b'MZ' + b'\0' * 58 + struct.pack('<I', 64) + f'placeholder for {name}\n'.encode()


def placeholder_lnk(name):
    # The shell-link header's size and class identifier, then a note.
    clsid = bytes.fromhex('0114020000000000c000000000000046')
    return struct.pack('<I', 0x4C) + clsid + f' placeholder for {name}\n'.encode()


def data_list(name):
    rows = [f'{name};{i};{100 + 7 * i}.{i % 10}' for i in range(20)]
    return ('\r\n'.join(rows) + '\r\n').encode()


def write(folder, language=0, without=(), pdf_pad=0):
    folder = Path(folder)
    (folder / 'Data').mkdir(parents=True, exist_ok=True)
    files = {'dLangv.dat': struct.pack('<i', language)}
    files.update({n: placeholder_exe(n) for n in PROGRAMS})
    files.update({n: placeholder_lnk(n) for n in SHORTCUTS})
    files.update({n: pdf(n, pdf_pad) for n in LANGUAGE_PDFS})
    files.update({'Data/' + n: pdf(n, pdf_pad) for n in DATA_PDFS})
    files.update({'Data/' + n: data_list(n) for n in DATA_LISTS})
    for name, data in files.items():
        if name not in without:
            (folder / name).write_bytes(data)
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
