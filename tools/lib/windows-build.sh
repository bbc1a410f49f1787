# Sourced by scripts: which Windows build runs here, and the Wine set-up.

# The i686 exe is the product; it runs only where the kernel executes 32-bit
# code (the 32-bit Wine loader). Elsewhere the x86_64 build of the same
# sources is the one run under Wine.
runnable_windows_build() {
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo win-i686
    else
        echo win-x86_64
    fi
}

# The Wine loader for a build: the 32-bit program needs the 32-bit one.
wine_loader() {
    if [[ $1 == win-i686 ]]; then echo /usr/lib/wine/wine; else echo /usr/lib/wine/wine64; fi
}

# Installs what the end-to-end tests use and builds the test Wine prefix.
prepare_wine_for_tests() {
    need_packages /usr/lib/wine/wine64:wine64 wine:wine Xvfb:xvfb socat:socat \
        xdotool:xdotool xwininfo:x11-utils import:imagemagick python3:python3 \
        less:less vi:vim-tiny tic:ncurses-bin \
        /usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf:fonts-liberation &&
        tools/wine-prefix "build/$1/wineprefix"
}
