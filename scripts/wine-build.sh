# Sourced by the scripts that run Setup.exe under Wine: installs what is
# missing, builds the Windows program this host's Wine runs, and exports where
# it is (SETUP_WINDOWS_BUILD) and which Wine runs it (SETUP_WINE_ARCH).
bash scripts/install-deps.sh
SETUP_WINE_ARCH=$(bash scripts/wine-arch.sh)
cmake --preset "$SETUP_WINE_ARCH" >/dev/null
cmake --build --preset "$SETUP_WINE_ARCH" -j2 >/dev/null
export SETUP_WINE_ARCH SETUP_WINDOWS_BUILD="$PWD/build/$SETUP_WINE_ARCH"
