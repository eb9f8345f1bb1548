"""The reproducible zip the release and the check kit are packed as."""
import time
import zipfile


def pack(stage, top, zip_path, epoch):
    """Entries sorted, times from SOURCE_DATE_EPOCH, fixed modes: the same
    inputs give the same bytes."""
    when = max(epoch, 315532800)  # a zip cannot date before 1980
    stamp = time.gmtime(when)[:6]
    entries = sorted(p for p in (stage / top).rglob('*'))
    with zipfile.ZipFile(zip_path, 'w') as z:
        for path in [stage / top] + entries:
            rel = str(path.relative_to(stage)) + ('/' if path.is_dir() else '')
            info = zipfile.ZipInfo(rel, stamp)
            info.create_system = 3
            if path.is_dir():
                info.external_attr = (0o40755 << 16) | 0x10
                z.writestr(info, b'')
            else:
                info.external_attr = 0o100644 << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, path.read_bytes(), compresslevel=9)
