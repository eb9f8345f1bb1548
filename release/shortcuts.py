"""The distribution's shortcuts read with liblnk (Debian's python3-liblnk):
each must lead to its own installed target, or a customer's new desktop
icon opens nothing, or the wrong program."""
import re

import pylnk

VARIABLE = re.compile(r'%([^%\\]+)%')
# The one variable a target may use: Setup installs on drive C:.
KNOWN_VARIABLES = {'systemdrive': 'C:'}


class Shortcut:
    """What liblnk read: the target as Windows would take it, and what the report shows."""

    def __init__(self, target, working_dir, icon, id_list):
        self.target, self.working_dir, self.icon, self.id_list = target, working_dir, icon, id_list

    def described(self):
        icon = f'{self.icon[0]},{self.icon[1]}' if self.icon[0] else 'none'
        ids = 'ID list not compared (liblnk does not decode it)' if self.id_list else 'no ID list'
        return f'{self.target}; working folder {self.working_dir or "none"}; icon {icon}; {ids}'


def liblnk_reason(error):
    """liblnk's innermost words from pylnk's chain of messages."""
    parts = [p.strip() for p in str(error).split('. ') if p.strip()]
    inner = next((p for p in parts if p.startswith('liblnk_')), parts[0] if parts else str(error))
    return inner.split(': ', 1)[-1].rstrip('.')


def expanded(path):
    """`path` with %SystemDrive% as C:; another variable raises with its name."""
    def one(match):
        value = KNOWN_VARIABLES.get(match.group(1).lower())
        if value is None:
            raise ValueError(f'uses the variable %{match.group(1)}%, which is not known before installation; '
                             'only %SystemDrive% is')
        return value
    return VARIABLE.sub(one, path)


def read(path):
    """(Shortcut, None) or (None, the problem in words)."""
    link = pylnk.file()
    try:
        link.open(str(path))
    except (OSError, IOError, ValueError) as e:
        return None, f'cannot be read by liblnk ({liblnk_reason(e)})'
    try:
        if link.network_path:
            return None, f'points to the network path {link.network_path}, which a customer\'s machine cannot reach'
        try:
            targets = [expanded(p) for p in (link.local_path, link.environment_variables_location) if p]
        except ValueError as e:
            return None, str(e)
        if not targets:
            if link.relative_path:
                return None, (f'gives only the relative path {link.relative_path}, which a shortcut on the desktop '
                              'cannot follow to the installation')
            if link.link_target_identifier_data:
                return None, 'names its target only in an ID list, which liblnk does not decode'
            return None, 'names no target'
        mismatch = next((t for t in targets if t.lower() != targets[0].lower()), None)
        if mismatch is not None:
            return None, f'names two targets, {targets[0]} and {mismatch}'
        return Shortcut(targets[0], link.working_directory, (link.icon_location, link.icon_index),
                        bool(link.link_target_identifier_data)), None
    finally:
        link.close()


def problem(name, path, targets):
    """What is wrong with a shortcut of the distribution, worded to follow its
    name, or None. Other files: None."""
    if not name.lower().endswith('.lnk'):
        return None
    wanted = targets.get(name, {}).get('target')
    if wanted is None:
        return 'is a shortcut the release command knows no target for'
    shortcut, why = read(path)
    if why:
        return why
    if shortcut.target.lower() != wanted.lower():
        return f'points to {shortcut.target}, not {wanted}'
    return None


def describe(name, path):
    """The report's line for a shortcut that passed."""
    return f'{name} -> {read(path)[0].described()}'
