"""The release command: run as `python3 -m release` by scripts/release.sh."""
