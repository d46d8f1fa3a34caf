#!/usr/bin/env bash
# Installs what is missing, builds, makes the sample voice beside the program
# and plays one emulated caller-ID call: a modem emulated on a
# pseudo-terminal rings and sends the caller's number, annc-line holds it
# and runs annc, which announces the call until the rings stop (or a key is
# pressed). Arguments go to tools/play_call.py (--number, --order uk, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
if [ ! -f build/Numvoice/InterDigit.Wav ]; then
  bash tools/make_voice.sh build/Numvoice "${ANNC_VOICE_LANG:-en}"
fi
echo "Playing an emulated call to 5551234; press any key to stop the announcement."
exec python3 tools/play_call.py "$@"
