#!/bin/bash
# Makes a complete sound folder for annc with espeak-ng and sox:
#   0.wav .. 19.wav, 20.wav 30.wav .. 90.wav, 100.wav 200.wav .. 900.wav,
#   InterDigit.Wav (a short chime) and nophone.wav ("unknown number"),
# plus an example phone book aon.db when the folder has none yet.
#
# Usage: tools/make_voice.sh [--names BOOK] OUTDIR [VOICE]
#   OUTDIR  the sound folder to fill (created when missing); annc looks for it
#           as "Numvoice" beside its executable, e.g. build/Numvoice
#   VOICE   an espeak-ng voice (espeak-ng --voices lists them); default "en".
#           The number words are the digits read by that voice. annc says
#           45 as the word for 40, then the word for 5: a language that
#           says the units first (German "fünfundvierzig") or counts in
#           twenties (French "soixante-quinze" for 75) gets a warning, and
#           the folder is made all the same.
#   --names BOOK  instead of the words: OUTDIR/names/NUMBER.wav, the name
#           spoken, for every "NUMBER=NAME" line of the phone book BOOK whose
#           number is all digits and whose name is not empty (annc-line
#           --say-names plays them). A recording already there (your own,
#           made with arecord) is kept.
# Environment:
#   NOPHONE_TEXT  the phrase spoken for an unknown number (overrides the
#                 built-in phrase for the voice's language)
#   VOICE_SPEED   words per minute for espeak-ng (default 160)
#
# Every recording is 16-bit mono PCM at 22050 Hz, with leading and trailing
# silence trimmed so that the words of a number follow each other tightly.
set -euo pipefail

usage() {
    echo "usage: $0 [--names BOOK] OUTDIR [VOICE]" >&2
    echo "  makes the annc sound folder OUTDIR with espeak-ng and sox (VOICE default: en)" >&2
    echo "  --names BOOK: makes OUTDIR/names/NUMBER.wav for the phone book's entries instead" >&2
    exit 2
}

book=""
if [ "${1:-}" = "--names" ]; then
    [ $# -ge 2 ] && [ -n "$2" ] || usage
    book=$2
    shift 2
    if [ ! -f "$book" ] || [ ! -r "$book" ]; then
        echo "$0: cannot read the phone book $book" >&2
        exit 1
    fi
fi

[ $# -ge 1 ] && [ $# -le 2 ] || usage
[ -n "$1" ] || usage
out=$1
voice=${2:-en}
speed=${VOICE_SPEED:-160}

for tool in espeak-ng sox; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$0: $tool is not installed (Debian: apt-get install espeak-ng sox)" >&2
        exit 1
    fi
done

# Refuse an unknown voice up front instead of failing on the first word.
if ! espeak-ng -v "$voice" -q "1" 2>/dev/null; then
    echo "$0: espeak-ng has no voice \"$voice\" (see: espeak-ng --voices)" >&2
    exit 1
fi

# warn_number_order: says, for a voice whose language does not build 21..99
# as the tens word followed by the units word, what annc will get wrong.
warn_number_order() {
    local lang=${voice##*/}          # "gmw/de" names the voice "de" as well
    lang=${lang,,}
    local how=""
    case "$lang" in
        de|de[-_+]*) how='German says 45 "fünfundvierzig" (five-and-forty)' ;;
        nl|nl[-_+]*) how='Dutch says 45 "vijfenveertig" (five-and-forty)' ;;
        da|da[-_+]*) how='Danish says 45 "femogfyrre" (five-and-forty, counted in twenties)' ;;
        af|af[-_+]*) how='Afrikaans says 45 "vyf-en-veertig" (five-and-forty)' ;;
        lb|lb[-_+]*) how='Luxembourgish says 45 "fënnefavéierzeg" (five-and-forty)' ;;
        fy|fy[-_+]*) how='Frisian says 45 "fiifenfjirtich" (five-and-forty)' ;;
        sl|sl[-_+]*) how='Slovenian says 45 "petinštirideset" (five-and-forty)' ;;
        ar|ar[-_+]*) how='Arabic says 45 "khamsa wa-arbaʿūn" (five and forty)' ;;
        mt|mt[-_+]*) how='Maltese says 45 "ħamsa u erbgħin" (five and forty)' ;;
        hi|hi[-_+]*|ur|ur[-_+]*|bn|bn[-_+]*|gu|gu[-_+]*|mr|mr[-_+]*|ne|ne[-_+]*|pa|pa[-_+]*|as|as[-_+]*|or|or[-_+]*|sd|sd[-_+]*|kok|kok[-_+]*)
            how='this language has a word of its own for each number up to 99, five before forty (Hindi 45 "paintālīs")' ;;
        fr|fr-fr|fr_fr)
            how='French (France) says 75 "soixante-quinze" (sixty-fifteen), not "soixante-dix cinq"; fr-be and fr-ch say "septante-cinq" and fit' ;;
        eu|eu[-_+]*) how='Basque counts in twenties: 35 is "hogeita hamabost" (twenty-and-fifteen)' ;;
        ka|ka[-_+]*) how='Georgian counts in twenties: 35 is "otsdatxutmeti" (twenty-and-fifteen)' ;;
    esac
    if [ -n "$how" ]; then
        echo "$0: warning: voice \"$voice\": annc joins a tens word and a units word (45: \"40\" \"5\"), but $how; such numbers will sound wrong (the README lists the languages that fit)" >&2
    fi
}
warn_number_order

mkdir -p -- "$out"
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

# The common output format of every recording.
fmt=(-r 22050 -c 1 -b 16 -e signed-integer)

# say TEXT FILE: speaks TEXT with the chosen voice into FILE, trimmed.
say() {
    local text=$1 dest=$2
    espeak-ng -v "$voice" -s "$speed" -w "$work/raw.wav" -- "$text"
    # Trim silence at the start, then (reversed) at the end.
    sox "$work/raw.wav" "${fmt[@]}" "$work/cut.wav" \
        silence 1 0.01 0.5% reverse silence 1 0.01 0.5% reverse
    # A few milliseconds of fade at both cuts keep them from clicking (a
    # second pass: the fade needs the trimmed length, which sox only knows
    # once the trimmed file is written).
    if [ "$(soxi -s "$work/cut.wav" 2>/dev/null || echo 0)" -gt 0 ]; then
        sox "$work/cut.wav" "$work/trim.wav" fade h 0.003 -0 0.01
    else
        rm -f -- "$work/trim.wav"
    fi
    # A phrase that is all below the threshold would trim to nothing;
    # keep the untrimmed recording then rather than an empty file.
    if [ -s "$work/trim.wav" ]; then
        mv -f -- "$work/trim.wav" "$dest"
    else
        sox "$work/raw.wav" "${fmt[@]}" "$dest"
    fi
}

# The names of a phone book, one recording per number.
if [ -n "$book" ]; then
    mkdir -p -- "$out/names"
    made=0 kept=0
    # A UTF-8 byte-order mark and CR line ends (a book saved on Windows) are
    # no part of the numbers and names.
    while IFS= read -r line || [ -n "$line" ]; do
        line=${line#$'\xEF\xBB\xBF'}
        line=${line%$'\r'}
        number=${line%%=*}
        name=${line#*=}
        [ "$number" != "$line" ] || continue
        [[ $number =~ ^[0-9]+$ ]] || continue
        # Neither markup nor phoneme input: the name is spoken as it is written.
        name=$(printf '%s' "$name" | tr -d '\000-\037\177' | tr '[]<>' '    ')
        [ -n "${name// /}" ] || continue
        if [ -e "$out/names/$number.wav" ]; then
            kept=$((kept + 1))
            continue
        fi
        say "$name" "$out/names/$number.wav"
        made=$((made + 1))
    done <"$book"
    echo "$0: $made name recordings made in $out/names ($kept already there kept; voice $voice)"
    exit 0
fi

words=()
for n in $(seq 0 19); do words+=("$n"); done
for n in $(seq 20 10 90); do words+=("$n"); done
for n in $(seq 100 100 900); do words+=("$n"); done

for n in "${words[@]}"; do
    say "$n" "$out/$n.wav"
done

# The phrase for a withheld or unknown number, in the voice's language
# where one is known here, English words otherwise.
if [ -n "${NOPHONE_TEXT:-}" ]; then
    nophone=$NOPHONE_TEXT
else
    case "${voice%%[-+_]*}" in
        de) nophone="unbekannte Nummer" ;;
        fr) nophone="numéro inconnu" ;;
        es) nophone="número desconocido" ;;
        it) nophone="numero sconosciuto" ;;
        pt) nophone="número desconhecido" ;;
        nl) nophone="onbekend nummer" ;;
        pl) nophone="nieznany numer" ;;
        ru) nophone="неизвестный номер" ;;
        uk) nophone="невідомий номер" ;;
        *) nophone="unknown number" ;;
    esac
fi
say "$nophone" "$out/nophone.wav"

# The separator: a soft two-tone chime of 0.3 s (E6 over B6, quick attack,
# decaying tail), mixed down to mono.
sox -n "${fmt[@]}" "$work/chime.wav" \
    synth 0.3 sine 1318.51 sine 1975.53 remix - \
    fade h 0.005 0.3 0.22 gain -n -8
mv -f -- "$work/chime.wav" "$out/InterDigit.Wav"

# An example phone book, never overwriting one that is already there.
if [ ! -e "$out/aon.db" ]; then
    printf '%s\r\n' \
        '5551234=Ann Lee' \
        '5559876=Bob Smith' \
        '5550100=Front Desk' >"$out/aon.db"
fi

echo "$0: sound folder ready in $out (voice $voice, ${#words[@]} number words)"
