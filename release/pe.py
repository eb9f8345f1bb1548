"""Facts the release reads from Windows programs: PE headers, the version
resource, the Authenticode image digest, whether a signature is present."""
import hashlib
import re

import pefile

from .common import ReleaseError

VERSION = re.compile(r'[0-9A-Za-z][0-9A-Za-z.+_-]*')
SECURITY = pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_SECURITY']
RESOURCE = pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']


def pe_image(data):
    try:
        return pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError:
        return None


def version_strings(data):
    """The version resource's strings of a PE image, {key: value}."""
    pe = pe_image(data)
    pe.parse_data_directories(directories=[RESOURCE])
    strings = {}
    for info in getattr(pe, 'FileInfo', []):
        for entry in info:
            for table in getattr(entry, 'StringTable', []):
                strings.update({k.decode('utf-8', 'replace'): v.decode('utf-8', 'replace').strip('\0 ')
                                for k, v in table.entries.items()})
    return strings


def release_version(override, program, mismatch_ok=False):
    """--version, else the ProductVersion of Orvo Tool.exe, else its FileVersion.
    A --version must be the program's ProductVersion or its leading parts
    (4.3.1 for 4.3.1.0) unless `mismatch_ok`; without `program` (before the
    build) only its form is checked."""
    strings = version_strings(program.read_bytes()) if program else {}
    if override is not None:
        version, origin = override, '--version'
    else:
        key = next((k for k in ('ProductVersion', 'FileVersion') if strings.get(k)), None)
        if key is None:
            raise ReleaseError('Orvo Tool.exe has no version resource; give the version with --version V')
        version, origin = strings[key], f'{key} of Orvo Tool.exe'
    if not VERSION.fullmatch(version):
        raise ReleaseError(f'{origin} {version!r} cannot name a file: use letters, digits and . + _ -, '
                           'beginning with a letter or digit' + ('' if override is not None else '; give --version V'))
    product, parts = strings.get('ProductVersion'), version.split('.')
    if override is not None and product and not mismatch_ok and parts != product.split('.')[:len(parts)]:
        raise ReleaseError(f'--version {version} is not the ProductVersion of Orvo Tool.exe, {product}, '
                           'nor its leading parts; give --version-mismatch-ok if the release is to differ')
    return version, origin


def authenticode_sha256(data):
    """The PE image hash Authenticode signs: the file without its checksum,
    its certificate-table entry and the certificate table itself. An unsigned
    file is hashed as the signer pads it, to a multiple of 8 bytes."""
    pe = pe_image(data)
    if pe is None:
        raise ReleaseError('not a PE image')
    checksum = pe.OPTIONAL_HEADER.get_field_absolute_offset('CheckSum')
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
    security = entry.get_file_offset()
    table, size = entry.VirtualAddress, entry.Size
    body = data[security + 8:table] if size else data[security + 8:] + b'\0' * (-len(data) % 8)
    return hashlib.sha256(data[:checksum] + data[checksum + 4:security] + body).hexdigest()


def is_signed(data):
    return pe_image(data).OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY].Size != 0
