#!/usr/bin/env python3
"""Runs Setup.exe under Wine once for every box it can show and writes each
box's picture to docs/boxes/, small (recompressed PNG), for the gallery,
docs/boxes.md. Run it again whenever a text changes (scripts/screenshots.sh)."""
import struct
import sys
import zlib
from pathlib import Path

root = Path(__file__).resolve().parent.parent
from lab import scenario
from lab.report import Report
from lab.scenario import REG_DWORD, reg_value

OUT = root / 'docs' / 'boxes'
LANGUAGES = ['cs', 'en', 'de', 'sv', 'ru']


def small_png(raw):
    """The same image, deflated at the highest level (boxprobe stores it uncompressed)."""
    chunks, pos = [], 8
    while pos < len(raw):
        length, kind = struct.unpack('>I4s', raw[pos:pos + 8])
        chunks.append((kind, raw[pos + 8:pos + 8 + length]))
        pos += 12 + length
    pixels = zlib.decompress(b''.join(body for kind, body in chunks if kind == b'IDAT'))

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    header = next(body for kind, body in chunks if kind == b'IHDR')
    return raw[:8] + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(pixels, 9)) + chunk(b'IEND', b'')


def keep(s, report, name):
    box = report.boxes[0]
    shot = s.root / Path(box['shot'].replace('\\', '/')).name
    target = OUT / f'{name}.png'
    target.write_bytes(small_png(shot.read_bytes()))
    print(f'{target.relative_to(root)}: {Report.box_text(box)!r}')
    shot.unlink()


def completion(language):
    s = scenario.Scenario(f'shots-completion-{language}')
    s.put_distribution(language=language)
    keep(s, s.run(quiet=True, check=False), f'completed-installation-{LANGUAGES[language]}')
    keep(s, s.run(quiet=True, check=False), f'completed-upgrade-{LANGUAGES[language]}')


def language_file_error(name, data, **run):
    s = scenario.Scenario(f'shots-{name}')
    s.put_distribution()
    (s.dist / 'dLangv.dat').write_bytes(data)
    if run.pop('unreadable', False):
        (s.dist / 'dLangv.dat').chmod(0)
    if run.pop('held', False):
        run['hold'] = s.win(s.dist / 'dLangv.dat')
    keep(s, s.run(quiet=True, check=False, **run), name)


def desktop_error(name, reg_desktop):
    s = scenario.Scenario(f'shots-{name}')
    s.put_distribution()
    keep(s, s.run(quiet=True, check=False, reg_desktop=reg_desktop), name)


def no_lock():
    """Another kind of object holds the lock's name: nothing is changed."""
    s = scenario.Scenario('shots-error-no-lock')
    s.put_distribution(language=1)
    keep(s, s.run(quiet=True, check=False, lock='event'), 'error-no-lock-en')


def incomplete(language):
    s = scenario.Scenario(f'shots-incomplete-{language}')
    s.put_distribution(language=language, without=['Data/QKV.txt'])
    keep(s, s.run(quiet=True, check=False), f'incomplete-{LANGUAGES[language]}')


def wrong_folder():
    """Started in the wrong folder, three ways: an English distribution started
    from elsewhere names both folders in English (the language beside Setup);
    Setup.exe alone names one folder, in Czech without any language file, and
    in English after an English installation."""
    s = scenario.Scenario('shots-started-elsewhere')
    s.put_distribution(language=1)
    s.cwd = s.drive_c / 'elsewhere'
    s.cwd.mkdir()
    keep(s, s.run(quiet=True, check=False), 'incomplete-started-elsewhere-en')
    s = scenario.Scenario('shots-wrong-folder-cs')
    s.put_installer()
    keep(s, s.run(quiet=True, check=False), 'incomplete-wrong-folder-cs')
    s = scenario.Scenario('shots-wrong-folder-en')
    s.put_distribution(language=1)
    s.run(quiet=True)
    s.dist = s.drive_c / 'setup-alone'
    s.dist.mkdir()
    s.put_installer()
    keep(s, s.run(quiet=True, check=False), 'incomplete-wrong-folder-en')


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    with scenario.Session(root / 'build' / 'screenshots'):
        for language in range(5):
            completion(language)
            incomplete(language)
        wrong_folder()
        language_file_error('error-read-beyond-end', b'\1\0\0')
        language_file_error('error-file-access-denied', b'\1\0\0\0', unreadable=True, unprivileged=True)
        language_file_error('error-io-32', b'\1\0\0\0', held=True)
        desktop_error('error-no-desktop', 'delete-key')
        desktop_error('error-invalid-data-type', reg_value(REG_DWORD, (7).to_bytes(4, 'little')))
        no_lock()
    total = sum(p.stat().st_size for p in OUT.glob('*.png'))
    print(f'{len(list(OUT.glob("*.png")))} pictures, {total:,} bytes, in {OUT.relative_to(root)}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
