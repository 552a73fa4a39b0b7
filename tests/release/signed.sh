#!/usr/bin/env bash
# The signed test release, with the throwaway keys of make_test_keys.sh. Runs tools/release.sh in
# the copy of the source that reproducible.sh built (OUT/repro/…, its trees are up to date, so
# nothing is compiled again) with the keys and the test package DEB, then proves:
#   - bad input stops release.sh with its message and leaves no release behind (a table);
#   - tools/verify_release.sh: every program's signature verifies against the test CA and,
#     stripped, each is the unsigned build UNSIGNED_ZIP byte for byte;
#   - SHA256SUMS.asc verifies with gpgv and with sqv;
#   - tampering is caught, one row per tampered file;
#   - a program whose size is not a multiple of 8 strips to itself but for padding and checksum;
#   - the same signing from a PKCS#11 token (SoftHSM) verifies, and a wrong PIN signs nothing.
# Prints the signed zip's path on stdout (the Wine and guest tests run its programs).
#   signed.sh OUT KEYS UNSIGNED_ZIP DEB
set -euo pipefail
shopt -s inherit_errexit
top=$(cd "$(dirname "$0")/../.." && pwd)
out=$(realpath "$1") keys=$(realpath "$2") unsigned=$(realpath "$3") deb=$(realpath "$4")
copy=$out/repro/another/place/tq734
run=$out/signed
rm -rf "$run"
mkdir -p "$run"
export GNUPGHOME=$keys/gnupg SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct)}
fpr=$(cat "$keys/openpgp.fpr")
. "$top/tools/sign_release.sh"
# A line of the step's report; a failure, which ends the step.
say() { echo "   $*" >&2; }
fail() { echo "FAIL: $*" >&2; exit 1; }
# tools/release.sh in the copy, its release folder DIST; its output in LOG.
release_in_copy() {
    local dist=$1 log=$2
    shift 2
    (cd "$copy" && TQ_BUILD_DIR="$copy/build" TQ_DIST_DIR="$dist" bash tools/release.sh "$@") >"$log" 2>&1
}

# Bad input: label | release.sh's arguments after --test | the words it must stop with.
pkcs12=(--pkcs12 "$keys/sign.p12" --pass-file "$keys/sign.pass")
bad_rows=(
    "no key file|--throwaway-key --pkcs12 $keys/missing.p12|no PKCS#12 file"
    "wrong passphrase|--throwaway-key --pkcs12 $keys/sign.p12 --pass-file $keys/leaf.ext|wrong passphrase"
    "expired certificate|--throwaway-key --pkcs12 $keys/expired.p12 --pass-file $keys/sign.pass|certificate expired on"
    "key not marked throwaway|${pkcs12[*]}|only with a throwaway key"
    "unknown OpenPGP key|--throwaway-key --gpg-key nobody@invalid|no secret OpenPGP key"
    "unreachable time-stamp server|--throwaway-key ${pkcs12[*]} --timestamp http://127.0.0.1:9/|release: signing .* failed"
    "firmware release of the placeholder|NOTEST ${pkcs12[*]}|is the placeholder image"
)
for row in "${bad_rows[@]}"; do
    IFS='|' read -r label args words <<<"$row"
    read -ra argv <<<"$args"
    if [ "${argv[0]}" = NOTEST ]; then argv=("${argv[@]:1}"); else argv=(--test "${argv[@]}"); fi
    rm -rf "$run/bad-dist"
    if release_in_copy "$run/bad-dist" "$run/bad.log" "${argv[@]}"; then
        fail "$label: release.sh went on"
    fi
    grep -q -- "$words" "$run/bad.log" || { cat "$run/bad.log" >&2; fail "$label: not stopped with '$words'"; }
    [ ! -e "$run/bad-dist" ] || fail "$label: left $(ls "$run/bad-dist") behind"
    ls -d "$copy"/build/publish.* >/dev/null 2>&1 && fail "$label: left a publishing folder behind"
    say "refused, nothing left behind: $label: $(grep -m1 -- "$words" "$run/bad.log")"
done

dist=$run/dist
release_in_copy "$dist" "$run/release.log" --test --throwaway-key "${pkcs12[@]}" --gpg-key "$fpr" --deb "$deb" ||
    { cat "$run/release.log" >&2; fail "the signed test release"; }
sed -n '/^== published/,$p' "$run/release.log" | sed 's/^/   /' >&2
zip=$dist/${unsigned##*/}
[ -f "$zip" ] || fail "no ${zip##*/} in $dist"
unzip -p "$zip" FIRMWARE.txt | grep -q 'ТЕСТОВЫМ ключом' || fail "FIRMWARE.txt does not say the key is a test key"

echo "   tools/verify_release.sh ${zip##*/} --ca ca.pem --unsigned (the reproducible build):" >&2
bash "$top/tools/verify_release.sh" "$zip" --ca "$keys/ca.pem" --unsigned "$unsigned" >"$run/verify.log" 2>&1 ||
    { sed 's/^/      /' "$run/verify.log" >&2; fail "the signed release does not verify"; }
sed 's/^/      /' "$run/verify.log" >&2
# osslsigncode's own verdict on the program a technician starts, in its own words.
unzip -p "$zip" tq734-updater.exe >"$run/tq734-updater.exe"
echo "   osslsigncode verify -CAfile ca.pem -in tq734-updater.exe (from the signed zip):" >&2
osslsigncode verify -CAfile "$keys/ca.pem" -in "$run/tq734-updater.exe" >"$run/osslsigncode.log" 2>&1 ||
    { cat "$run/osslsigncode.log" >&2; fail "osslsigncode verify: tq734-updater.exe"; }
grep -E '^(Current|Calculated) message digest|^Signature verification|^Number of verified|^Succeeded' \
    "$run/osslsigncode.log" | sed 's/^/      /' >&2
gpgv --keyring "$dist/apt/tq734-archive-keyring.gpg" "$dist/SHA256SUMS.asc" "$dist/SHA256SUMS" >"$run/gpgv.log" 2>&1 ||
    { cat "$run/gpgv.log" >&2; fail "gpgv: SHA256SUMS.asc"; }
sed 's/^/      /' "$run/gpgv.log" >&2
sqv --keyring "$dist/apt/tq734-archive-keyring.gpg" "$dist/SHA256SUMS.asc" "$dist/SHA256SUMS" >"$run/sqv.log" 2>&1 ||
    { cat "$run/sqv.log" >&2; fail "sqv: SHA256SUMS.asc"; }
say "sqv: good signature by $(cat "$run/sqv.log")"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "the published SHA256SUMS does not match"

# Changes the byte at OFFSET in FILE (its lowest bit): flip_byte FILE OFFSET
flip_byte() {
    local b
    b=$(od -An -tu1 -j "$2" -N 1 "$1" | tr -d ' ')
    printf "\\$(printf '%03o' $((b ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# Tampering, one row per tampered file: the zip rebuilt with one program changed.
# tampered_zip NAME HOW: a copy of the signed zip whose first program is changed by HOW
# (flip: one byte in its code; resign: that, then signed again with the test key) and whose
# SHA256SUMS inside is made anew, as whoever changed it would.
tampered_zip() {
    local name=$1 how=$2 dir=$run/tamper-$1 p at
    rm -rf "$dir"
    mkdir -p "$dir/files"
    unzip -q "$zip" -d "$dir/files"
    p=$(pe_programs "$dir/files" | sed -n 1p)
    if [ "$how" = resign ]; then
        osslsigncode remove-signature -in "$dir/files/$p" -out "$dir/stripped" >/dev/null
        mv "$dir/stripped" "$dir/files/$p"
    fi
    flip_byte "$dir/files/$p" $(( $(stat -c %s "$dir/files/$p") / 3 ))
    if [ "$how" = resign ]; then
        sign_program "$dir/files/$p" "$dir/signed" && mv "$dir/signed" "$dir/files/$p"
    fi
    (cd "$dir/files" && mapfile -t listed < <(sed 's/^[0-9a-f]*  //' SHA256SUMS) && sha256sum "${listed[@]}" >SHA256SUMS &&
        zip -X -D -q "$dir/$name.zip" $(zipinfo -1 "$zip"))
    echo "$dir/$name.zip"
}
SIGN_PKCS12=$keys/sign.p12 SIGN_PASS_FILE=$keys/sign.pass
authenticode_key_check
# label | the check that must fail (verify_release: how the program is changed, the words it fails with)
tamper_rows=(
    "one byte of a signed program|verify_release flip does not verify"
    "a program changed and signed again with the same key|verify_release resign is not the unsigned build"
    "one byte of the published SHA256SUMS|checksums"
    "SHA256SUMS.asc by another OpenPGP key|stranger"
)
for row in "${tamper_rows[@]}"; do
    IFS='|' read -r label check <<<"$row"
    read -r check how words <<<"$check"
    case $check in
    verify_release)
        t=$(tampered_zip "$how" "$how")
        if bash "$top/tools/verify_release.sh" "$t" --ca "$keys/ca.pem" --unsigned "$unsigned" >"$run/tamper.log" 2>&1; then
            fail "$label: verify_release.sh passed it"
        fi
        grep -q "^FAIL: .*$words" "$run/tamper.log" || { cat "$run/tamper.log" >&2; fail "$label: not for '$words'"; }
        say "caught: $label: $(grep -m1 '^FAIL' "$run/tamper.log")" ;;
    checksums | stranger)
        mkdir -p "$run/tamper-$check"
        cp "$dist/SHA256SUMS" "$dist/SHA256SUMS.asc" "$run/tamper-$check/"
        if [ "$check" = checksums ]; then
            flip_byte "$run/tamper-$check/SHA256SUMS" 0
        else
            GNUPGHOME=$keys/gnupg-other gpg --batch --yes --quiet --armor --detach-sign \
                --output "$run/tamper-$check/SHA256SUMS.asc" "$run/tamper-$check/SHA256SUMS"
        fi
        cmp -s "$dist/SHA256SUMS" "$run/tamper-$check/SHA256SUMS" && [ "$check" = checksums ] &&
            fail "$label: the file was not changed"
        for tool in gpgv sqv; do
            if "$tool" --keyring "$dist/apt/tq734-archive-keyring.gpg" "$run/tamper-$check/SHA256SUMS.asc" \
                "$run/tamper-$check/SHA256SUMS" >"$run/tamper.log" 2>&1; then
                fail "$label: $tool accepted it"
            fi
            say "caught: $label: $tool: $(grep -Eim1 'BAD|manipulated|missing|no public key|not|error' "$run/tamper.log")"
        done ;;
    esac
done

# Padding: signing pads a program to a multiple of 8 bytes; stripped, only that and the
# checksum may differ, and any other byte still counts.
odd=$run/odd
mkdir -p "$odd"
p=$(pe_programs "$run/tamper-flip/files" | sed -n 1p)
unzip -p "$unsigned" "$p" >"$odd/unsigned.exe"
printf 'abc' >>"$odd/unsigned.exe"
sign_program "$odd/unsigned.exe" "$odd/signed.exe"
osslsigncode remove-signature -in "$odd/signed.exe" -out "$odd/stripped.exe" >/dev/null
how=$(pe_same_unsigned "$odd/stripped.exe" "$odd/unsigned.exe") || fail "a program of $(stat -c %s "$odd/unsigned.exe") bytes does not strip to itself"
say "a program of $(stat -c %s "$odd/unsigned.exe") bytes, signed and stripped: $how"
flip_byte "$odd/stripped.exe" 1000
pe_same_unsigned "$odd/stripped.exe" "$odd/unsigned.exe" >/dev/null && fail "a changed byte passed as padding"
say "caught: one byte changed besides the padding"

# A PKCS#11 token, through the functions release.sh signs with: the zip signed from it verifies
# and strips to the unsigned build; with a wrong PIN nothing is signed and no zip is left.
export SOFTHSM2_CONF=$keys/softhsm2.conf
SIGN_PKCS12="" SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so SIGN_KEY="pkcs11:token=tq734-test;object=sign"
SIGN_CERTS=$keys/chain.pem SIGN_PASS_FILE=$keys/token.pin
authenticode_key_check
utf8_names=$copy/build/native/tools/release/zip_utf8_names
sign_release_zip "$unsigned" "$run/token.zip" "$utf8_names" 1 2>"$run/token.log" ||
    { cat "$run/token.log" >&2; fail "signing from the PKCS#11 token"; }
bash "$top/tools/verify_release.sh" "$run/token.zip" --ca "$keys/ca.pem" --unsigned "$unsigned" >"$run/verify-token.log" 2>&1 ||
    { cat "$run/verify-token.log" >&2; fail "the release signed from the token does not verify"; }
say "from a PKCS#11 token (SoftHSM): $(grep -c 'signature verified' "$run/verify-token.log") programs verified," \
    "$(grep -c 'identical' "$run/verify-token.log") entries identical to the unsigned build"
SIGN_PASS_FILE=$keys/leaf.ext
authenticode_key_check
sign_release_zip "$unsigned" "$run/token-bad.zip" "$utf8_names" 1 2>"$run/token-bad.log" && fail "a wrong PIN signed"
[ ! -e "$run/token-bad.zip" ] || fail "a wrong PIN left a zip behind"
say "refused, nothing left behind: wrong PIN: $(grep -m1 'release:' "$run/token-bad.log")"
echo "$zip"
