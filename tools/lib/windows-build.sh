# Sourced by scripts after need-packages.sh: the Wine loaders of the Windows
# builds and the Wine set-up for tests. The i686 exe is the product; it needs
# the 32-bit loader (need_wine32), which runs only where the kernel executes
# 32-bit code.

# The Wine loader for a build: the 32-bit program needs the 32-bit one.
wine_loader() {
    if [[ $1 == win-i686 ]]; then echo /usr/lib/wine/wine; else echo /usr/lib/wine/wine64; fi
}

# prepare_wine_for_tests BUILD: installs what the end-to-end tests of BUILD use
# and builds its test Wine prefix. The preload shims of the tests are compiled
# for the loader they go into, hence gcc-multilib for the 32-bit one.
prepare_wine_for_tests() {
    local multilib=()
    [[ $1 == win-i686 ]] && multilib=(/usr/include/asm:gcc-multilib)
    need_packages /usr/lib/wine/wine64:wine64 wine:wine Xvfb:xvfb socat:socat \
        xdotool:xdotool xwininfo:x11-utils import:imagemagick python3:python3 cc:gcc \
        less:less vi:vim-tiny tic:ncurses-bin dialog:dialog "${multilib[@]}" \
        /usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf:fonts-liberation &&
        tools/wine-prefix "build/$1/wineprefix"
}

# Whether build directory DIR has end-to-end tests registered with CTest.
has_e2e_tests() {
    [[ -f $1/CTestTestfile.cmake ]] && grep -q add_test -r "$1" --include=CTestTestfile.cmake
}
