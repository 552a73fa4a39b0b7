#!/usr/bin/env bash
# Checks a signed release zip, on Linux, against a certificate and against the source:
#   1. SHA256SUMS inside the zip matches and lists every other entry;
#   2. every Windows program in it carries an Authenticode signature that osslsigncode verifies
#      against CAFILE (the signer's CA, or the signing certificate itself when self-signed);
#   3. each program, stripped of its signature, is the unsigned reproducible build of the same
#      commit (padding and the PE checksum set aside as pe_same_unsigned says); the guide is the
#      same file; FIRMWARE.txt is the unsigned one plus the lines naming the signer.
# The unsigned build is UNSIGNED_ZIP if given (tools/release.sh leaves it in
# build/release/unsigned/), else made here by tools/release.sh from a copy of this checkout,
# which must then be the release's commit (a few minutes). Exit status 0 only when all holds.
#   bash tools/verify_release.sh ZIP --ca CAFILE [--tsa-ca FILE] [--unsigned UNSIGNED_ZIP]
set -euo pipefail
# How to call it, and exit status 2.
usage() { echo "usage: bash tools/verify_release.sh ZIP --ca CAFILE [--tsa-ca FILE] [--unsigned UNSIGNED_ZIP]" >&2; exit 2; }
[ $# -ge 1 ] || usage
zip=$(realpath -m "$1")
shift
ca="" tsa_ca="" unsigned=""
while [ $# -ge 2 ]; do
    case $1 in
    --ca) ca=$(realpath -m "$2") ;;
    --tsa-ca) tsa_ca=$(realpath -m "$2") ;;
    --unsigned) unsigned=$(realpath -m "$2") ;;
    *) usage ;;
    esac
    shift 2
done
[ $# = 0 ] && [ -n "$ca" ] || usage
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/sign_release.sh"
for f in "$zip" "$ca" ${tsa_ca:+"$tsa_ca"} ${unsigned:+"$unsigned"}; do
    [ -f "$f" ] || { echo "verify_release: no file $f" >&2; exit 2; }
done
command -v osslsigncode >/dev/null || { echo "verify_release: osslsigncode is missing: apt-get install osslsigncode" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
# Reports a failed check and goes on with the next one.
bad() {
    echo "FAIL: $*"
    failed=1
}

unzip -q "$zip" -d "$work/signed"
if (cd "$work/signed" && sha256sum --quiet -c SHA256SUMS) >"$work/sums.log" 2>&1; then
    listed=$(sed 's/^[0-9a-f]*  //' "$work/signed/SHA256SUMS" | LC_ALL=C sort)
    present=$(cd "$work/signed" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
    [ "$listed" = "$present" ] && echo "SHA256SUMS: every entry matches" ||
        bad "SHA256SUMS lists '$listed', the zip holds '$present'"
else
    bad "SHA256SUMS does not match: $(grep -v '^sha256sum: WARNING' "$work/sums.log" | head -n 3 | tr '\n' ' ')"
fi

if [ -z "$unsigned" ]; then
    echo "building the unsigned release from this checkout ($(git -C "$top" log -1 --format='%h %ci' 2>/dev/null || echo 'no git'))"
    test_option=()
    case ${zip##*/} in *-TEST.zip) test_option=(--test) ;; esac
    copy=$work/source
    mkdir -p "$copy"
    (cd "$top" && git ls-files -z | xargs -0 cp --parents -t "$copy")
    export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct)}
    (cd "$copy" && TQ_BUILD_DIR="$copy/build" TQ_DIST_DIR="$work/unsigned-dist" \
        bash tools/release.sh "${test_option[@]}" >"$work/release.log" 2>&1) ||
        { cat "$work/release.log" >&2; echo "verify_release: the unsigned build failed" >&2; exit 1; }
    unsigned=$work/unsigned-dist/${zip##*/}
    [ -f "$unsigned" ] || { echo "verify_release: the build made no ${zip##*/}" >&2; exit 1; }
fi
unzip -q "$unsigned" -d "$work/unsigned"
[ "$(zipinfo -1 "$zip")" = "$(zipinfo -1 "$unsigned")" ] ||
    bad "the entries differ from the unsigned build's: $(zipinfo -1 "$zip" | tr '\n' ' ')"

mapfile -t programs < <(pe_programs "$work/signed")
[ "$(printf '%s\n' "${programs[@]}")" = "$(pe_programs "$work/unsigned")" ] ||
    bad "the programs differ from the unsigned build's: ${programs[*]}"
[ ${#programs[@]} -gt 0 ] || bad "no program in the zip"
verify_options=(-CAfile "$ca")
[ -z "$tsa_ca" ] || verify_options+=(-TSA-CAfile "$tsa_ca")
for p in "${programs[@]}"; do
    if osslsigncode verify "${verify_options[@]}" -in "$work/signed/$p" >"$work/verify.log" 2>&1 &&
        grep -q '^Signature verification: ok' "$work/verify.log"; then
        signer=$(awk '/^Signer.s certificate:/ { f = 1 } f && /Subject:/ { sub(/^[ \t]*Subject: /, ""); print; exit }' "$work/verify.log")
        echo "$p: signature verified against ${ca##*/} (signer $signer)"
    else
        bad "$p: the signature does not verify against ${ca##*/}:" \
            "$(grep -Eim 3 'error|failed|verification' "$work/verify.log" | tr '\n' ' ')"
        continue
    fi
    if ! osslsigncode remove-signature -in "$work/signed/$p" -out "$work/stripped" >"$work/strip.log" 2>&1; then
        bad "$p: remove-signature failed: $(tail -n 2 "$work/strip.log" | tr '\n' ' ')"
    elif how=$(pe_same_unsigned "$work/stripped" "$work/unsigned/$p"); then
        echo "$p: without its signature $(stat -c %s "$work/stripped") bytes, $how to the unsigned build" \
            "(SHA-256 $(sha256sum <"$work/unsigned/$p" | cut -c1-16)…)"
    else
        bad "$p: without its signature it is not the unsigned build" \
            "($(cmp -l "$work/stripped" "$work/unsigned/$p" 2>/dev/null | wc -l) bytes differ)"
    fi
    rm -f "$work/stripped"
done

while IFS= read -r f; do
    case $f in SHA256SUMS | FIRMWARE.txt) continue ;; esac
    is_pe "$work/unsigned/$f" && continue
    cmp -s "$work/signed/$f" "$work/unsigned/$f" && echo "$f: identical to the unsigned build" ||
        bad "$f differs from the unsigned build's"
done < <(zipinfo -1 "$unsigned")
size=$(stat -c %s "$work/unsigned/FIRMWARE.txt")
if [ "$(head -c "$size" "$work/signed/FIRMWARE.txt" | sha256sum)" = "$(sha256sum <"$work/unsigned/FIRMWARE.txt")" ]; then
    echo "FIRMWARE.txt: the unsigned one, then: $(tail -c +$((size + 1)) "$work/signed/FIRMWARE.txt" | tr -d '\r' | sed -n 2p)"
else
    bad "FIRMWARE.txt is not the unsigned build's with the signer's lines after it"
fi
[ "$failed" = 0 ] && echo "verified: ${zip##*/}" || { echo "NOT verified: ${zip##*/}"; exit 1; }
