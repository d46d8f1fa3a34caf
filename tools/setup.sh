#!/usr/bin/env bash
# Installs what annc needs to build, to make the sample voice and to run its
# tests, on Debian. Only what is missing is installed.
set -euo pipefail

packages=(build-essential cmake pkg-config libasound2-dev libsndfile1-dev libgtest-dev libgmock-dev
          libespeak-ng-dev libsystemd-dev libmd-dev espeak-ng sox alsa-utils python3 locales libc-l10n
          dpkg-dev lintian systemd libsqlite3-dev sqlite3 mosquitto mosquitto-clients libmosquitto-dev
          nlohmann-json3-dev openssl e2fsprogs python3-jinja2 libmicrohttpd-dev libsodium-dev chromium
          chromium-driver python3-selenium mmdebstrap systemd-container curl)
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

# UTF-8 locales of other languages, so the tests can check that the log
# keeps English month names, writes system errors in the user's language
# (de_DE, with libc-l10n's translations) and takes the time separator from
# the locale (nb_NO writes "kl. %H.%M"; ja_JP, ko_KR and zh_CN put a
# multi-byte character there); and that names in other scripts match.
for name in de_DE nb_NO ja_JP ko_KR zh_CN; do
  if ! locale -a 2>/dev/null | grep -qi "^$name\.utf-\?8\$"; then
    $sudo localedef -i "$name" -f UTF-8 "$name.UTF-8" >/dev/null 2>&1 || echo "note: could not make $name.UTF-8"
  fi
done
