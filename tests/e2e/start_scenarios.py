#!/usr/bin/env python3
"""Start-up, language and outcome of the real Setup.exe under Wine."""
import subprocess
import sys

from winelab import NO_DAC_OVERRIDE, Scenarios, expect, expect_completion, expect_error, incomplete, z_path

scenario = Scenarios()


def language_file(path, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


@scenario
def czech_code(s):
    s.put_distribution(language=0)
    expect_completion(s.run(), 'Instalace dokončena')


@scenario
def no_language_file_reads_czech_and_reports_the_missing_file(s):
    s.put_distribution(without=['dLangv.dat'])
    expect_error(s.run(), incomplete(1, 'C:\\Orvo_Tool\\dLangv.dat', 'dLangv.dat', 2, language=0))
    expect((s.desktop / 'Orvo Tool CZ.pdf').exists(), True, 'Czech PDF on the desktop')


@scenario
def english_code(s):
    s.put_distribution()
    language_file(s.dist / 'dLangv.dat', bytes([1, 0, 0, 0]))
    expect_completion(s.run(), 'Instaltion completed.')


@scenario
def russian_code_with_trailing_bytes(s):
    s.put_distribution()
    language_file(s.dist / 'dLangv.dat', bytes([4, 0, 0, 0, 9, 9, 9]))
    expect_completion(s.run(), 'Установка завершено.')


@scenario
def unknown_code_shows_empty_box(s):
    s.put_distribution()
    language_file(s.dist / 'dLangv.dat', bytes([7, 0, 0, 0]))
    expect_completion(s.run(), '')


@scenario
def short_language_file_fails(s):
    s.put_distribution()
    language_file(s.dist / 'dLangv.dat', bytes([1, 0, 0]))
    window = expect_error(s.run(), 'Read beyond end of file.')
    expect(window['client'], '248x99', 'main window client size at 96 dpi')
    expect(window['zoomed'], '0', 'main window maximized')


@scenario
def failed_run_honours_maximized_start(s):
    s.put_distribution()
    language_file(s.dist / 'dLangv.dat', b'')
    window = expect_error(s.run(show='max'), 'Read beyond end of file.')
    expect(window['zoomed'], '1', 'main window maximized')


@scenario
def installed_copy_decides_upgrade(s):
    s.put_distribution()
    language_file(s.c('C:\\Orvo_Tool\\dLangv.dat'), bytes([2, 0, 0, 0]))
    language_file(s.dist / 'dLangv.dat', bytes([1, 0, 0, 0]))
    s.c('C:\\Orvo_Tool\\Orvo Tool.exe').write_bytes(b'MZ installed')
    expect_completion(s.run(), 'Upgrade ist fertig.')


@scenario
def read_only_language_file_is_read(s):
    s.put_distribution()
    lang = s.dist / 'dLangv.dat'
    language_file(lang, bytes([1, 0, 0, 0]))
    lang.chmod(0o444)
    # The fault must bite: without the privilege the file cannot be opened for writing.
    bite = subprocess.run(NO_DAC_OVERRIDE + [sys.executable, '-c', f'open({str(lang)!r}, "r+b")'],
                          capture_output=True)
    expect(bite.returncode != 0 and b'PermissionError' in bite.stderr, True,
           'opening the read-only file for writing fails without the privilege')
    expect_completion(s.run(unprivileged=True), 'Instaltion completed.')


@scenario
def locked_language_file_fails_with_code_32(s):
    s.put_distribution()
    language_file(s.dist / 'dLangv.dat', bytes([1, 0, 0, 0]))
    expect_error(s.run(hold=z_path(s.dist / 'dLangv.dat')), 'I/O error 32.')


@scenario
def renamed_executable_names_the_boxes(s):
    s.put_distribution(language=0)
    s.put_installer('my.setup.exe')
    expect_completion(s.run(), 'Instalace dokončena', caption='my')


@scenario
def upper_case_executable_name(s):
    s.put_distribution(language=0)
    s.put_installer('SETUP.EXE')
    expect_completion(s.run(), 'Instalace dokončena', caption='Setup')


if __name__ == '__main__':
    sys.exit(scenario.main(sys.argv))
