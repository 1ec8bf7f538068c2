#!/usr/bin/env bash
# Builds the plug-ins, installs them for the current user (~/.vst3, ~/.lv2, and the
# Standalone into ~/.local/bin) and renders the demo through the installed VST3.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh BrassgateOrgan_VST3 BrassgateOrgan_LV2 BrassgateOrgan_Standalone render factory_presets

artefacts="${BUILD_DIR:-build}/BrassgateOrgan_artefacts/Release"
mkdir -p "$HOME/.vst3" "$HOME/.lv2" "$HOME/.local/bin"
rm -rf "$HOME/.vst3/Brassgate Organ.vst3" "$HOME/.lv2/Brassgate Organ.lv2"
cp -r "$artefacts/VST3/Brassgate Organ.vst3" "$HOME/.vst3/"
cp -r "$artefacts/LV2/Brassgate Organ.lv2" "$HOME/.lv2/"
cp "$artefacts/Standalone/Brassgate Organ" "$HOME/.local/bin/brassgate-organ"
# The factory presets, where VST3 hosts look for a user's presets of this plug-in.
# The vendor and product names, as the build has them.
. "${BUILD_DIR:-build}/product.env"
presets="$HOME/.vst3/presets/$BRASSGATE_VENDOR/$BRASSGATE_PRODUCT"
mkdir -p "$presets"
cp "${BUILD_DIR:-build}"/factory-presets/vst3/*.vstpreset "$presets/"
echo "Installed: $HOME/.vst3/Brassgate Organ.vst3, $HOME/.lv2/Brassgate Organ.lv2 (with its presets)," \
     "$HOME/.local/bin/brassgate-organ and the VST3 presets in $presets"

# The demo plays at Volume 22 % (the plug-in's default is 80 %), so that the
# written file leaves headroom: its loudest sample stays below -1 dBFS.
"${BUILD_DIR:-build}/render" --plugin "$HOME/.vst3/Brassgate Organ.vst3" --midi demo/demo.mid --out demo-render.wav \
    --set "Volume=0.22" | tee "${BUILD_DIR:-build}/demo-render.log"
peak=$(sed -n 's/.*peak \(-\{0,1\}[0-9.]*\) dBFS.*/\1/p' "${BUILD_DIR:-build}/demo-render.log" | tail -1)
if [ -z "$peak" ] || ! awk -v p="$peak" 'BEGIN { exit !(p < -1.0) }'; then
    echo "demo: the render peaks at ${peak:-an unknown level} dBFS, not below -1 dBFS" >&2
    exit 1
fi
