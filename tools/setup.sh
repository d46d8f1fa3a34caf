#!/usr/bin/env bash
# Installs what annc needs to build, to make the sample voice and to run its
# tests, on Debian. Only what is missing is installed.
set -euo pipefail

packages=(build-essential cmake pkg-config libasound2-dev libsndfile1-dev libgtest-dev libgmock-dev
          espeak-ng sox alsa-utils python3 locales)
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# A UTF-8 locale with another language, so the tests can check that the log
# keeps English month names and that names in other scripts match.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || echo "note: could not make de_DE.UTF-8"
fi
