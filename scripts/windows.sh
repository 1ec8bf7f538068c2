#!/usr/bin/env bash
# The Windows build, cross-compiled on Debian from the same sources as Linux, and
# its checks under Wine.
#
#   scripts/windows.sh build        (make windows) installs the cross toolchain and
#       Wine, builds the Windows libraries from Debian's source packages (once),
#       cross-builds the VST3, the Standalone and the tools in build-windows, and
#       writes dist/ with the zip a Windows user unpacks
#   scripts/windows.sh test         (make test-windows) the above, then the Linux
#       build's render tool, and every Windows test under Wine on a virtual
#       display (ctest), and a screenshot of the editor in the Windows module
#   scripts/windows.sh screenshot [DIR]   the screenshot alone, into DIR
#       (default docs/images) as editor-windows.png
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
what=${1:-build}
win_dir=${WINDOWS_BUILD_DIR:-build-windows}
linux_dir=${BUILD_DIR:-build}
seconds() { date +%s; }
timings=()

build() {
    local start
    start=$(seconds)
    bash scripts/windows-deps.sh "$win_dir/deps"
    timings+=("dependencies $(($(seconds) - start)) s")

    start=$(seconds)
    # Configured on every run: CMake redoes only what changed, and a new option
    # or setting reaches an existing build tree too.
    cmake -S . -B "$win_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
        -DBRASSGATE_LINUX_BUILD="$root/$linux_dir"
    # The factory presets are written under Wine during the build, which wants a display.
    xvfb-run -a cmake --build "$win_dir" -j "${JOBS:-2}"
    timings+=("cross-build $(($(seconds) - start)) s")

    start=$(seconds)
    package
    timings+=("dist $(($(seconds) - start)) s")
}

# dist/: the zip a Windows user unpacks (CPack, from the install rules of
# cmake/WindowsPlugin.cmake), and the same files unpacked beside it.
package() {
    local zip
    rm -rf dist
    (cd "$win_dir" && cpack -G ZIP --config CPackConfig.cmake > cpack.log) || { cat "$win_dir/cpack.log"; exit 1; }
    rm -rf dist/_CPack_Packages
    zip=$(ls dist/*.zip)
    (cd dist && cmake -E tar xf "$(basename "$zip")")
    echo "Wrote $zip:"
    (cd dist && cmake -E tar tf "$(basename "$zip")" | grep -v '\.vstpreset$' | sed 's/^/  /')
    echo "  ... and $(cd dist && cmake -E tar tf "$(basename "$zip")" | grep -c '\.vstpreset$') factory presets in Presets/"
}

# The editor of the Windows module in a window on a virtual display, a chord
# playing, as Wine draws it.
screenshot() { # output folder
    mkdir -p "$1"
    xvfb-run -a -s "-screen 0 1024x768x24" bash tests/windows/screenshot.sh \
        scripts/wine-run.sh "$win_dir/wine" "$win_dir/tests/windows/windows_checks.exe" "$1/editor-windows.png"
}

case $what in
build)
    build
    ;;
test)
    build
    start=$(seconds)
    # The Linux renders the Windows ones are compared with.
    BUILD_DIR=$linux_dir bash scripts/build.sh render engine_render
    timings+=("Linux render tools $(($(seconds) - start)) s")

    start=$(seconds)
    xvfb-run -a -s "-screen 0 1024x768x24" ctest --test-dir "$win_dir" --output-on-failure -j 2
    cat "$win_dir/tests/windows/renders/report.txt"
    screenshot "$win_dir/screenshots"
    timings+=("tests under Wine $(($(seconds) - start)) s")
    ;;
screenshot)
    screenshot "${2:-docs/images}"
    ;;
*)
    echo "usage: scripts/windows.sh build|test|screenshot [DIR]" >&2
    exit 2
    ;;
esac

[ ${#timings[@]} -eq 0 ] || echo "== Windows: $(IFS=,; echo "${timings[*]}" | sed 's/,/, /g')"
