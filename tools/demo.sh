#!/usr/bin/env bash
# Installs what is missing, builds, makes the sample voice beside the program
# and announces a sample call until a key is pressed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
if [ ! -f build/Numvoice/InterDigit.Wav ]; then
  bash tools/make_voice.sh build/Numvoice "${ANNC_VOICE_LANG:-en}"
fi
echo "Announcing a sample call; press any key to stop."
exec build/annc "${1:-5551234}"
