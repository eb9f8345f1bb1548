"""What a run must have shown: one box of the right kind, text, caption,
icon and buttons, and the exit status."""
from pathlib import Path

from lab.report import Report


def expect(actual, wanted, what):
    if actual != wanted:
        raise AssertionError(f'{what}: expected {wanted!r}, got {actual!r}')


def only_box(report):
    expect(report.timeout, False, 'run finished before the watchdog')
    expect(len(report.boxes), 1, 'number of boxes')
    return report.boxes[0]


def expect_completion(report, text, caption='Setup'):
    """One task dialog: caption, empty heading, the text, one OK, no icon; exit 0."""
    box = only_box(report)
    expect(Report.box_kind(box), 'taskdialog', 'box kind')
    expect(box['caption'], caption, 'box caption')
    expect(Report.box_heading(box), '', 'box heading')
    expect(Report.box_text(box), text, 'box text')
    expect(Report.buttons(box), ['OK'], 'box buttons')
    expect(box['icon'], 'none', 'box icon')
    expect([w['kind'] for w in report.windows], [], 'main window before the box or left open after it')
    expect(report.exit, 0, 'exit status')


def _texts():
    """The product's box texts as the tests expect them, by kind and language
    code, from the table the check kit is built with; {} for each %d and %s."""
    table = {}
    for line in (Path(__file__).resolve().parents[1] / 'expected_texts.tsv').read_text(encoding='utf-8').splitlines():
        if line and not line.startswith('#'):
            kind, language, text = line.split('\t')
            table.setdefault(kind, {})[int(language)] = text.replace('%d', '{}').replace('%s', '{}')
    return table


TEXTS = _texts()
# The incomplete-installation message's first line, by language code.
INCOMPLETE = TEXTS['incomplete']
# Wine's own texts for the system's error codes, by the installation's language:
# the reason is asked for in that language first.
# Wine has no text for ERROR_REPARSE_POINT_ENCOUNTERED (4395): Setup names the code.
WINE_ERROR = {1: {2: 'File not found.', 3: 'Path not found.', 5: 'Access denied.', 32: 'Sharing violation.',
                  112: 'Disk full.', 4395: 'Error 4395.'},
              0: {2: 'Soubor nebyl nalezen.', 5: 'Přístup odepřen.'},
              3: {5: 'Åtkomst nekad.'},
              4: {5: 'Доступ запрещён.'}}


def incomplete(count, first, error, missing_source=None, language=1):
    """The whole text: count and first target, then the system's reason, after
    the source's name when the source was missing."""
    reason = WINE_ERROR[language][error]
    return INCOMPLETE[language].format(count, first) + '\n' + (f'{missing_source}: {reason}' if missing_source else reason)


def expect_error(report, text, caption='Setup'):
    """One system box with the stop icon, then the empty main window stays until closed; exit 1."""
    box = only_box(report)
    expect(Report.box_kind(box), 'messagebox', 'box kind')
    expect(box['caption'], caption, 'box caption')
    expect(Report.box_text(box), text, 'box text')
    expect(Report.buttons(box), ['OK'], 'box buttons')
    expect(box['icon'], 'stop', 'box icon')
    windows = [w for w in report.windows if w['kind'] == 'window']
    expect(len(windows), 1, 'main window left open after the error box')
    expect(windows[0]['caption'], 'Setup 1.0', 'main window caption')
    expect([c['text'] for c in windows[0]['children'] if c['visible']], [], 'visible controls on the main window')
    expect(report.exit, 1, 'exit status')
    return windows[0]
