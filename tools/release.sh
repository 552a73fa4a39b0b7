#!/usr/bin/env bash
# The release a technician is handed: dist/tq734-updater-<version>.zip with both programs, the
# guide in Russian, FIRMWARE.txt and SHA256SUMS. Reproducible: every entry carries the time of
# the last commit (or SOURCE_DATE_EPOCH), so the same source gives the same bytes anywhere.
# It refuses the placeholder image unless asked for a test release (--test or TQ_TEST_RELEASE=1):
# dist/tq734-updater-<version>-TEST.zip, marked as such in its guide and FIRMWARE.txt.
# Given a key it signs: every program in the zip with Authenticode (--pkcs12, or a PKCS#11
# token), and with --gpg-key the published files: the .deb beside the zip, an apt repository
# (dist/apt) and dist/SHA256SUMS with SHA256SUMS.asc. The keys are checked before anything is
# built; everything is made in a temporary folder and moved into dist/ only at the end. A test
# release is signed only with a key marked --throwaway-key, and never a firmware release with one.
# Without a key the unsigned zip is made, byte for byte as ever. As root it installs the Debian
# packages it lacks.
#   bash tools/release.sh [--test] [--throwaway-key]
#       [--pkcs12 FILE | --pkcs11-module SO --key URI --certs CHAIN.pem [--pkcs11-engine SO]]
#       [--pass-file FILE] [--timestamp URL] [--gpg-key KEY] [--deb FILE]
#   (TQ_BUILD_DIR, default build/release; TQ_DIST_DIR, default dist)
set -euo pipefail
# The usage lines of the header above, and exit status 2.
usage() {
    { echo "usage:"; sed -n '/^#   bash tools\/release.sh/,/^#   (TQ_BUILD_DIR/p' "$0" | sed 's/^#//'; } >&2
    exit 2
}
throwaway=0 gpg_key="" deb=""
SIGN_PKCS12="" SIGN_PKCS11_MODULE="" SIGN_PKCS11_ENGINE="" SIGN_KEY="" SIGN_CERTS="" SIGN_PASS_FILE="" SIGN_TIMESTAMP=""
while [ $# -gt 0 ]; do
    case $1 in
    --test) TQ_TEST_RELEASE=1 ;;
    --throwaway-key) throwaway=1 ;;
    --pkcs12 | --pkcs11-module | --pkcs11-engine | --key | --certs | --pass-file | --timestamp | --gpg-key | --deb)
        [ $# -ge 2 ] || usage
        case $1 in
        --pkcs12) SIGN_PKCS12=$(realpath -m "$2") ;;
        --pkcs11-module) SIGN_PKCS11_MODULE=$2 ;;
        --pkcs11-engine) SIGN_PKCS11_ENGINE=$2 ;;
        --key) SIGN_KEY=$2 ;;
        --certs) SIGN_CERTS=$(realpath -m "$2") ;;
        --pass-file) SIGN_PASS_FILE=$(realpath -m "$2") ;;
        --timestamp) SIGN_TIMESTAMP=$2 ;;
        --gpg-key) gpg_key=$2 ;;
        --deb) deb=$(realpath -m "$2") ;;
        esac
        shift ;;
    *) usage ;;
    esac
    shift
done
export TQ_TEST_RELEASE=${TQ_TEST_RELEASE:-0}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=$(realpath -m "${TQ_BUILD_DIR:-$top/build/release}")
dist=$(realpath -m "${TQ_DIST_DIR:-$top/dist}")
. tools/sign_release.sh
authenticode=0
[ -n "$SIGN_PKCS12$SIGN_PKCS11_MODULE" ] && authenticode=1

# The keys first: a wrong one stops the release before the build.
if [ "$authenticode" = 1 ] || [ -n "$gpg_key" ]; then
    if [ "$TQ_TEST_RELEASE" = 1 ] && [ "$throwaway" != 1 ]; then
        sign_fail "a test release is signed only with a throwaway key: say so with --throwaway-key" \
            "(FIRMWARE.txt then names it a test key)"
        exit 1
    fi
    if [ "$TQ_TEST_RELEASE" != 1 ] && [ "$throwaway" = 1 ]; then
        sign_fail "a throwaway key signs test releases only (--test)"
        exit 1
    fi
    [ "$authenticode" = 0 ] || authenticode_key_check || exit 1
    [ -z "$gpg_key" ] || openpgp_key_check "$gpg_key" || exit 1
    [ -z "$deb" ] || [ -n "$gpg_key" ] || { sign_fail "--deb goes with --gpg-key"; exit 1; }
    [ -z "$deb" ] || [ -f "$deb" ] || { sign_fail "no package $deb"; exit 1; }
elif [ "$throwaway" = 1 ] || [ -n "$deb$SIGN_KEY$SIGN_CERTS$SIGN_PASS_FILE$SIGN_TIMESTAMP" ]; then
    sign_fail "--throwaway-key, --deb, --key, --certs, --pass-file and --timestamp go with a key" \
        "(--pkcs12, --pkcs11-module or --gpg-key)"
    exit 1
fi

. tests/rig/packages.sh
ensure_packages
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct 2>/dev/null) ||
        { echo "no git history here: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH

echo "== building the release (i686, x86_64, release tools)"
. tools/build_release.sh
build_release_programs "$out"
if [ "$authenticode" = 0 ] && [ -z "$gpg_key" ]; then
    zip=$(package_release "$out" "$dist")
    echo "== $zip"
    unzip -l "$zip" | sed 's/^/   /'
    echo "   SHA-256: $(sha256sum "$zip" | cut -c1-64)"
    exit 0
fi

# Signed: the unsigned zip stays in the build folder (tools/verify_release.sh compares with it).
unsigned=$(package_release "$out" "$out/unsigned")
echo "== unsigned: $unsigned ($(sha256sum "$unsigned" | cut -c1-64))"
mkdir -p "$out"
stage=$(mktemp -d "$out/publish.XXXXXX")
trap 'rm -rf "$stage"' EXIT
zip=$stage/${unsigned##*/}
published=("${zip##*/}")
if [ "$authenticode" = 1 ]; then
    echo "== signing the programs (Authenticode, \"$SIGNER_NAME\")"
    sign_release_zip "$unsigned" "$zip" "$out/native/tools/release/zip_utf8_names" "$TQ_TEST_RELEASE"
else
    cp "$unsigned" "$zip"
fi
if [ -n "$gpg_key" ]; then
    if [ -z "$deb" ]; then
        echo "== building the Linux package"
        test_option=()
        [ "$TQ_TEST_RELEASE" = 1 ] && test_option=(--test)
        deb=$(bash tools/build_deb.sh "${test_option[@]}" "$out/deb")
    fi
    # The package follows the zip's rule: a test package (~test) with a test release only.
    case $(dpkg-deb -f "$deb" Version)/$TQ_TEST_RELEASE in
    *~test*/0) sign_fail "${deb##*/} is a test package: a firmware release publishes its release package"; exit 1 ;;
    *~test*/1 | */0) ;;
    *) sign_fail "${deb##*/} is not a test package, and this is a test release"; exit 1 ;;
    esac
    cp "$deb" "$stage/"
    published+=("${deb##*/}")
    echo "== the apt repository, signed with $gpg_key"
    bash tools/apt_repo.sh --key "$gpg_key" "$stage/apt" "$deb"
    echo "== SHA256SUMS over ${published[*]}, signed with $gpg_key"
    (cd "$stage" && sha256sum "${published[@]}" >SHA256SUMS &&
        gpg --yes --quiet --local-user "$gpg_key" --armor --detach-sign --output SHA256SUMS.asc SHA256SUMS) ||
        { sign_fail "signing SHA256SUMS with $gpg_key failed"; exit 1; }
    published+=(SHA256SUMS SHA256SUMS.asc apt)
fi
mkdir -p "$dist"
for f in "${published[@]}"; do
    rm -rf "${dist:?}/$f"
    mv "$stage/$f" "$dist/$f"
done
echo "== published in $dist:"
(cd "$dist" && for f in "${published[@]}"; do
    [ -f "$f" ] && echo "   $f  $(sha256sum "$f" | cut -c1-64)" || echo "   $f/"
done)
