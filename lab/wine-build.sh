# Sourced by the scripts that run Setup.exe under Wine: installs what is
# missing, builds the Windows program this host's Wine runs, and exports where
# it is (SETUP_WINDOWS_BUILD), which Wine runs it (SETUP_WINE_ARCH) and the
# sentence that says so (SETUP_WINE_PATH); and builds the plan printer the
# sample is written from (SETUP_PLAN_TOOL).
bash scripts/install-deps.sh
{ read -r SETUP_WINE_ARCH; read -r SETUP_WINE_PATH; } < <(bash lab/wine-arch.sh) || exit 1
cmake --preset "$SETUP_WINE_ARCH" >/dev/null
cmake --build --preset "$SETUP_WINE_ARCH" -j2 >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target setup-plan >/dev/null
export SETUP_WINE_ARCH SETUP_WINE_PATH SETUP_WINDOWS_BUILD="$PWD/build/$SETUP_WINE_ARCH" \
    SETUP_PLAN_TOOL="$PWD/build/native/setup-plan"
