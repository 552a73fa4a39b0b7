# Signing the release, for tools/release.sh, tools/verify_release.sh and the tests. Source, then
# call the functions. The release is signed after it is built: the unsigned zip is made as ever,
# then every Windows program in it is signed, FIRMWARE.txt says by whom, SHA256SUMS is made
# anew, and the zip is written again in the same order. Stripped of its signature, each program
# is the unsigned build again (pe_same_unsigned).
#
# The key, set by the caller before authenticode_key_check:
#   SIGN_PKCS12 FILE                  a PKCS#12 file with the key and its certificate chain, or
#   SIGN_PKCS11_MODULE SO, SIGN_KEY URI, SIGN_CERTS FILE   a key on a PKCS#11 token, its chain
#                                     in a PEM file (SIGN_PKCS11_ENGINE: an OpenSSL engine, for
#                                     osslsigncode builds that need one)
#   SIGN_PASS_FILE FILE               the PKCS#12 passphrase or the token's PIN, on its first line
#   SIGN_TIMESTAMP URL                an RFC 3161 time-stamp server (optional)

# Prints why and fails: sign_fail TEXT...
sign_fail() {
    echo "release: $*" >&2
    return 1
}

# Succeeds when FILE is a PE program: "MZ", then "PE\0\0" where the DOS header points.
is_pe() {
    local at
    [ "$(head -c 2 "$1" 2>/dev/null)" = MZ ] || return 1
    at=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
    [ -n "$at" ] && [ "$(od -An -c -j "$at" -N 4 "$1" | tr -d ' ')" = 'PE\0\0' ]
}

# The PE programs under DIR, as paths relative to it, one a line, in a fixed order.
pe_programs() {
    local f
    (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | while IFS= read -r f; do
        if is_pe "$f"; then printf '%s\n' "$f"; fi
    done)
}

# The subject's common name of the first certificate in the PEM text on stdin.
certificate_name() {
    openssl x509 -noout -subject -nameopt multiline,utf8 | sed -n 's/^ *commonName *= *//p' | head -n 1
}

# Checks the Authenticode key before anything is built, so that a wrong one stops the release at
# once: the files exist, the passphrase opens the PKCS#12 file, the certificate has not expired
# and is meant for code signing. Sets SIGN_OPTIONS (osslsigncode's) and SIGNER_NAME.
authenticode_key_check() {
    local pem
    SIGN_OPTIONS=()
    if [ -n "${SIGN_PKCS12:-}" ]; then
        [ -f "$SIGN_PKCS12" ] || sign_fail "no PKCS#12 file $SIGN_PKCS12" || return 1
        [ -z "${SIGN_PASS_FILE:-}" ] || [ -f "$SIGN_PASS_FILE" ] ||
            sign_fail "no passphrase file $SIGN_PASS_FILE" || return 1
        pem=$(openssl pkcs12 -in "$SIGN_PKCS12" -nokeys -clcerts -passin "file:${SIGN_PASS_FILE:-/dev/null}" 2>/dev/null) ||
            sign_fail "cannot open $SIGN_PKCS12: wrong passphrase (--pass-file), or not a PKCS#12 file" || return 1
        SIGN_OPTIONS=(-pkcs12 "$SIGN_PKCS12")
    elif [ -n "${SIGN_PKCS11_MODULE:-}" ]; then
        [ -f "$SIGN_PKCS11_MODULE" ] || sign_fail "no PKCS#11 module $SIGN_PKCS11_MODULE" || return 1
        [ -n "${SIGN_KEY:-}" ] || sign_fail "a PKCS#11 token needs --key (the key's pkcs11: URI)" || return 1
        [ -f "${SIGN_CERTS:-}" ] || sign_fail "a PKCS#11 token needs --certs (its certificate chain, PEM)" || return 1
        pem=$(openssl x509 -in "$SIGN_CERTS" 2>/dev/null) || sign_fail "no certificate in $SIGN_CERTS" || return 1
        SIGN_OPTIONS=(-pkcs11module "$SIGN_PKCS11_MODULE" -key "$SIGN_KEY" -certs "$SIGN_CERTS")
        [ -z "${SIGN_PKCS11_ENGINE:-}" ] || SIGN_OPTIONS+=(-pkcs11engine "$SIGN_PKCS11_ENGINE")
    else
        sign_fail "no signing key: --pkcs12 FILE, or --pkcs11-module SO with --key and --certs" || return 1
    fi
    [ -z "${SIGN_PASS_FILE:-}" ] || SIGN_OPTIONS+=(-readpass "$SIGN_PASS_FILE")
    openssl x509 -noout -checkend 0 <<<"$pem" >/dev/null ||
        sign_fail "the signing certificate expired on $(openssl x509 -noout -enddate <<<"$pem" | cut -d= -f2)" || return 1
    openssl x509 -noout -ext extendedKeyUsage <<<"$pem" 2>/dev/null | grep -q 'Code Signing' ||
        sign_fail "the certificate is not for code signing (no extendedKeyUsage codeSigning)" || return 1
    SIGNER_NAME=$(certificate_name <<<"$pem")
    [ -n "$SIGNER_NAME" ] || sign_fail "the signing certificate has no common name" || return 1
    [ -z "${SIGN_TIMESTAMP:-}" ] || SIGN_OPTIONS+=(-ts "$SIGN_TIMESTAMP")
}

# Checks that the OpenPGP key KEY can sign here (in GNUPGHOME): a secret key, not expired.
openpgp_key_check() {
    local key=$1 validity
    validity=$(gpg --batch --with-colons --list-secret-keys "$key" 2>/dev/null | awk -F: '$1 == "sec" { print $2; exit }')
    [ -n "$validity" ] || sign_fail "no secret OpenPGP key '$key' in ${GNUPGHOME:-~/.gnupg}" || return 1
    case $validity in
    e) sign_fail "the OpenPGP key '$key' has expired" ;;
    r) sign_fail "the OpenPGP key '$key' is revoked" ;;
    esac
}

# The lines FIRMWARE.txt of a signed release ends with (CRLF, as the rest of it): who signed the
# programs, and in a test release that the key was a throwaway one.
signature_note() {
    local test=$1
    printf '\r\n'
    if [ "$test" = 1 ]; then
        printf 'Программы подписаны ТЕСТОВЫМ ключом "%s" (Authenticode).\r\n' "$SIGNER_NAME"
        printf 'Это одноразовый ключ проверки выпуска, а не ключ изготовителя: подпись не\r\n'
        printf 'подтверждает происхождение программ.\r\n'
    else
        printf 'Программы подписаны (Authenticode): "%s".\r\n' "$SIGNER_NAME"
        printf 'Подпись видна в свойствах файла программы, вкладка "Цифровые подписи".\r\n'
    fi
}

# Signs IN into OUT with the checked key; osslsigncode's words only when it fails.
sign_program() {
    local in=$1 out=$2 log
    log=$(osslsigncode sign "${SIGN_OPTIONS[@]}" -h sha256 -n "$(basename "$in" .exe)" -in "$in" -out "$out" 2>&1) ||
        { echo "$log" >&2; sign_fail "signing ${in##*/} failed (above)"; }
}

# The signed release from the unsigned one: sign_release_zip UNSIGNED OUT ZIP_UTF8_NAMES TEST.
# Every PE program in it is signed; FIRMWARE.txt gets signature_note; SHA256SUMS lists the same
# files with the signed bytes; the entries keep their order, time (SOURCE_DATE_EPOCH) and mode.
sign_release_zip() {
    local unsigned=$1 out=$2 utf8_names=$3 test=$4 stage
    : "${SOURCE_DATE_EPOCH:?the release needs SOURCE_DATE_EPOCH}"
    stage=$(mktemp -d) || return 1
    # Every step checked by hand: the caller's set -e does not reach here when it tests the result.
    (
        trap 'rm -rf "$stage"' EXIT
        local p order programs listed
        unzip -q "$unsigned" -d "$stage/files" || exit 1
        mapfile -t order < <(zipinfo -1 "$unsigned")
        mapfile -t programs < <(pe_programs "$stage/files")
        [ ${#programs[@]} -gt 0 ] || sign_fail "no program to sign in $unsigned" || exit 1
        for p in "${programs[@]}"; do
            sign_program "$stage/files/$p" "$stage/signed" && mv "$stage/signed" "$stage/files/$p" || exit 1
            echo "   signed $p ($(stat -c %s "$stage/files/$p") bytes)" >&2
        done
        signature_note "$test" >>"$stage/files/FIRMWARE.txt" || exit 1
        cd "$stage/files" || exit 1
        mapfile -t listed < <(sed 's/^[0-9a-f]*  //' SHA256SUMS)
        sha256sum "${listed[@]}" >SHA256SUMS && chmod 644 "${order[@]}" && touch -d "@$SOURCE_DATE_EPOCH" "${order[@]}" &&
            TZ=UTC LC_ALL=C.UTF-8 zip -X -D -9 -q "$stage/out.zip" "${order[@]}" && "$utf8_names" "$stage/out.zip" &&
            mv "$stage/out.zip" "$out"
    )
}

# Succeeds when STRIPPED (a signed program after osslsigncode remove-signature) is the unsigned
# build UNSIGNED. Signing pads the file with zeros to a multiple of 8 bytes and remove-signature
# leaves that padding and a PE checksum computed over it: beyond those, every byte must match.
# Prints "identical" or what was set aside.
pe_same_unsigned() {
    local stripped=$1 unsigned=$2 size pad at bad
    if cmp -s "$stripped" "$unsigned"; then
        echo "identical"
        return 0
    fi
    size=$(stat -c %s "$unsigned")
    pad=$(( (8 - size % 8) % 8 ))
    [ "$(stat -c %s "$stripped")" = $((size + pad)) ] || return 1
    [ "$(tail -c "$pad" "$stripped" | tr -d '\0' | wc -c)" = 0 ] || return 1
    # The checksum is the 4 bytes at 88 past the PE signature (64 into the optional header).
    at=$(( $(od -An -tu4 -j 60 -N 4 "$unsigned" | tr -d ' ') + 88 ))
    bad=$(cmp -l <(head -c "$size" "$stripped") "$unsigned" 2>/dev/null |
        awk -v lo=$((at + 1)) -v hi=$((at + 4)) '$1 < lo || $1 > hi { n++ } END { print n + 0 }')
    [ "$bad" = 0 ] || return 1
    echo "identical but for $pad bytes of padding and the PE checksum"
}
