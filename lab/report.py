"""What boxprobe saw in one run, read from its report."""
import re

def unescape(value):
    """Reverses boxprobe's escaping of backslashes and line breaks, in one pass."""
    return re.sub(r'\\(.)', lambda m: {'n': '\n', 'r': '\r'}.get(m.group(1), m.group(1)), value)


class Report:
    """What boxprobe saw: boxes and windows in order, and the exit status; or
    the shortcuts it read, each {file, path, working, icon_file, icon_index,
    resolve, resolved, resolved_kind} or {file, error}."""

    def __init__(self, text):
        self.boxes, self.windows, self.exit, self.timeout, self.notes = [], [], None, False, []
        self.shortcuts = []
        block = None
        for line in text.splitlines():
            if line in ('box', 'window', 'window-before-box', 'shortcut'):
                block = {'kind': line, 'children': [], 'icon': 'none'}
            elif line == 'end' and block is not None:
                {'box': self.boxes, 'shortcut': self.shortcuts}.get(block['kind'], self.windows).append(block)
                block = None
            elif '=' in line:
                key, value = line.split('=', 1)
                value = unescape(value)
                if block is None and key == 'seen_ms' and self.boxes:
                    self.boxes[-1]['seen_ms'] = int(value)
                elif block is None:
                    if key == 'exit':
                        self.exit = int(value)
                    elif key == 'timeout':
                        self.timeout = True
                    else:
                        self.notes.append(line)
                elif key == 'child':
                    cls, cid, vis, txt = value.split('|', 3)
                    block['children'].append({'class': cls, 'id': int(cid), 'visible': vis == 'visible', 'text': txt})
                else:
                    block[key] = value

    @staticmethod
    def box_kind(box):
        statics = [c for c in box['children'] if c['class'].lower() == 'static']
        return 'messagebox' if any(c['id'] == 65535 for c in statics) else 'taskdialog'

    @staticmethod
    def box_text(box):
        statics = [c for c in box['children'] if c['class'].lower() == 'static']
        if Report.box_kind(box) == 'messagebox':
            return next(c['text'] for c in statics if c['id'] == 65535)
        # Task dialog: heading first, then the main text.
        return statics[1]['text'] if len(statics) > 1 else ''

    @staticmethod
    def box_heading(box):
        statics = [c for c in box['children'] if c['class'].lower() == 'static']
        return statics[0]['text'] if Report.box_kind(box) == 'taskdialog' and statics else ''

    @staticmethod
    def buttons(box):
        return [c['text'] for c in box['children'] if c['class'].lower() == 'button' and c['visible']]
