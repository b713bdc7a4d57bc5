# Sourced by the Wine scripts: one private prefix per build tree, quiet Wine,
# and the 64-bit loader and server (this kernel cannot run 32-bit Wine).
# Expects ROOT, the folder that holds the prefix and the session's state.
export WINEPREFIX="$ROOT/prefix"
export WINEDEBUG=-all
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE64=/usr/lib/wine/wine64
WINESERVER64=/usr/lib/wine/wineserver64
