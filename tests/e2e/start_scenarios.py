#!/usr/bin/env python3
"""Start-up, language and outcome of the real Setup.exe under Wine."""
import sys

from expectations import expect, expect_completion, expect_error, incomplete
from checked import Scenarios, bites, place

scenario = Scenarios()


def language_scenario(name, data, text):
    """The language file's bytes decide the completion text; bytes after the
    first four do not count."""
    def run(s):
        s.put_distribution()
        place(s.dist / 'dLangv.dat', data)
        expect_completion(s.run(), text)
    run.__name__ = name
    scenario(run)


language_scenario('czech_code', bytes([0, 0, 0, 0]), 'Instalace dokončena')
language_scenario('english_code', bytes([1, 0, 0, 0]), 'Instaltion completed.')
language_scenario('russian_code_with_trailing_bytes', bytes([4, 0, 0, 0, 9, 9, 9]), 'Установка завершено.')
language_scenario('unknown_code_shows_empty_box', bytes([7, 0, 0, 0]), '')


def short_language_file_scenario(name, data, show, window_facts):
    """Fewer than four bytes: "Read beyond end of file.", and the empty main
    window stays, at its designed size, maximized when started so."""
    def run(s):
        s.put_distribution()
        place(s.dist / 'dLangv.dat', data)
        window = expect_error(s.run(show=show), 'Read beyond end of file.')
        for key, (value, what) in window_facts.items():
            expect(window[key], value, what)
    run.__name__ = name
    scenario(run)


short_language_file_scenario('short_language_file_fails', bytes([1, 0, 0]), None,
                             {'client': ('248x99', 'main window client size at 96 dpi'),
                              'zoomed': ('0', 'main window maximized')})
short_language_file_scenario('failed_run_honours_maximized_start', b'', 'max',
                             {'zoomed': ('1', 'main window maximized')})


@scenario
def no_language_file_reads_czech_and_reports_the_missing_file(s):
    s.put_distribution(without=['dLangv.dat'])
    expect_error(s.run(), incomplete(1, 'C:\\Orvo_Tool\\dLangv.dat', 2, 'dLangv.dat', language=0))
    expect((s.desktop / 'Orvo Tool CZ.pdf').exists(), True, 'Czech PDF on the desktop')


@scenario
def installed_copy_decides_upgrade(s):
    s.put_distribution()
    place(s.c('C:\\Orvo_Tool\\dLangv.dat'), bytes([2, 0, 0, 0]))
    place(s.dist / 'dLangv.dat', bytes([1, 0, 0, 0]))
    s.c('C:\\Orvo_Tool\\Orvo Tool.exe').write_bytes(b'MZ installed')
    expect_completion(s.run(), 'Upgrade ist fertig.')


@scenario
def read_only_language_file_is_read(s):
    s.put_distribution()
    lang = s.dist / 'dLangv.dat'
    place(lang, bytes([1, 0, 0, 0]))
    lang.chmod(0o444)
    expect(bites(lang, 'r+b'), True, 'opening the read-only file for writing fails without the privilege')
    expect_completion(s.run(unprivileged=True), 'Instaltion completed.')


@scenario
def locked_language_file_fails_with_code_32(s):
    s.put_distribution()
    place(s.dist / 'dLangv.dat', bytes([1, 0, 0, 0]))
    expect_error(s.run(hold=s.win(s.dist / 'dLangv.dat')), 'I/O error 32.')


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
