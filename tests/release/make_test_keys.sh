#!/usr/bin/env bash
# Throwaway keys for the signed test release, made anew in DIR at every run (the caller removes
# DIR): a test CA and a code-signing certificate it issued, as PKCS#12 with the passphrase in
# sign.pass; the same certificate expired (expired.p12); an ed25519 OpenPGP key without
# passphrase in DIR/gnupg, exported as DIR/openpgp.gpg, its fingerprint in DIR/openpgp.fpr;
# a second OpenPGP key (DIR/gnupg-other) that the release does not trust; and the signing key
# on a PKCS#11 token as a hardware key holds it (SoftHSM, SOFTHSM2_CONF=DIR/softhsm2.conf:
# token tq734-test, object sign, PIN in token.pin, the chain in chain.pem).
#   make_test_keys.sh DIR            make them
#   make_test_keys.sh --remove DIR   stop their gpg-agents and remove DIR
set -euo pipefail
if [ "$1" = --remove ]; then
    for home in "$2"/gnupg "$2"/gnupg-other; do
        [ -d "$home" ] && gpgconf --homedir "$home" --kill all 2>/dev/null || true
    done
    rm -rf "$2"
    exit 0
fi
dir=$1
mkdir -p "$dir"
cd "$dir"
log=$dir/keys.log
: >"$log"
# openssl with its words in the log, shown only when it fails.
ssl() { openssl "$@" >>"$log" 2>&1 || { cat "$log" >&2; echo "make_test_keys: openssl $1 failed" >&2; exit 1; }; }

ssl req -x509 -newkey rsa:3072 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=TQ734 test CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >leaf.ext
ssl req -newkey rsa:3072 -nodes -keyout leaf.key -out leaf.csr -subj "/CN=TQ734 test signing"
ssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile leaf.ext -out leaf.pem
head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n' >sign.pass
ssl pkcs12 -export -in leaf.pem -inkey leaf.key -certfile ca.pem -name "TQ734 test signing" \
    -passout file:sign.pass -out sign.p12

# The same key in a certificate whose validity ended in 2021: `openssl ca` sets past dates.
mkdir -p expired-ca
: >expired-ca/index.txt
cat >expired-ca/ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = $dir/expired-ca/index.txt
new_certs_dir = $dir/expired-ca
serial = $dir/expired-ca/serial
default_md = sha256
policy = any
x509_extensions = leaf
[any]
commonName = supplied
[leaf]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
CNF
echo 01 >expired-ca/serial
ssl ca -batch -config expired-ca/ca.cnf -cert ca.pem -keyfile ca.key -in leaf.csr -out expired.pem \
    -startdate 20200101000000Z -enddate 20210101000000Z -notext
ssl pkcs12 -export -in expired.pem -inkey leaf.key -certfile ca.pem -passout file:sign.pass -out expired.p12

# The token: the certificate's key imported into a SoftHSM token of its own.
mkdir -p tokens
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$dir/tokens" >softhsm2.conf
cat leaf.pem ca.pem >chain.pem
head -c 8 /dev/urandom | od -An -tu8 | tr -d ' \n' >token.pin
ssl pkcs8 -topk8 -nocrypt -in leaf.key -out leaf.p8
{ SOFTHSM2_CONF=$dir/softhsm2.conf softhsm2-util --init-token --free --label tq734-test --so-pin "$(cat token.pin)" \
      --pin "$(cat token.pin)" &&
  SOFTHSM2_CONF=$dir/softhsm2.conf softhsm2-util --import leaf.p8 --token tq734-test --label sign --id 01 \
      --pin "$(cat token.pin)"; } >>"$log" 2>&1 || { cat "$log" >&2; echo "make_test_keys: softhsm2-util failed" >&2; exit 1; }

# OpenPGP: the release key and a stranger's, each in a keyring of its own.
for home in gnupg gnupg-other; do
    mkdir -m 700 "$home"
    GNUPGHOME=$dir/$home gpg --batch --quiet --passphrase '' --quick-gen-key \
        "TQ734 test release ($home) <test@invalid>" ed25519 sign 1d >>"$log" 2>&1 ||
        { cat "$log" >&2; echo "make_test_keys: gpg failed" >&2; exit 1; }
done
GNUPGHOME=$dir/gnupg gpg --batch --with-colons --list-secret-keys 2>>"$log" | awk -F: '$1 == "fpr" { print $10; exit }' >openpgp.fpr
GNUPGHOME=$dir/gnupg gpg --batch --export "$(cat openpgp.fpr)" >openpgp.gpg 2>>"$log"
[ -s openpgp.gpg ] || { echo "make_test_keys: no OpenPGP key exported" >&2; exit 1; }
