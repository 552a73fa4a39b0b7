#!/usr/bin/env bash
# A signed apt repository of the given .deb files, flat (no dists/ tree), in OUTDIR:
#   the packages, Packages (uncompressed: a few hundred bytes a package), Release with their hashes, Release signed with
#   the OpenPGP key KEY as InRelease (inline) and Release.gpg (detached), and the public key as
#   tq734-archive-keyring.gpg for the users' signed-by=. A test package (version ~test) makes
#   a repository labelled as a test one. OUTDIR is replaced whole, once it is complete.
#   bash tools/apt_repo.sh --key KEY OUTDIR DEB...    (GNUPGHOME: the keyring holding KEY)
# A user then adds, once (docs/linux.md):
#   deb [signed-by=/usr/share/keyrings/tq734-archive-keyring.gpg] URL ./
set -euo pipefail
[ "${1:-}" = --key ] && [ $# -ge 4 ] ||
    { echo "usage: bash tools/apt_repo.sh --key KEY OUTDIR DEB..." >&2; exit 2; }
key=$2 outdir=$(realpath -m "$3")
shift 3
command -v apt-ftparchive >/dev/null ||
    { echo "apt_repo: apt-ftparchive is missing: apt-get install apt-utils" >&2; exit 1; }
label="TQ734 updater"
for deb in "$@"; do
    [ -f "$deb" ] || { echo "apt_repo: no package $deb" >&2; exit 1; }
    case $(dpkg-deb -f "$deb" Version) in *~test*) label="TQ734 updater (TEST packages, not for devices)" ;; esac
done
mkdir -p "$(dirname "$outdir")"
stage=$(mktemp -d "$outdir.XXXXXX")
trap 'rm -rf "$stage" "$stage.Release"' EXIT
cp "$@" "$stage/"
cd "$stage"
apt-ftparchive packages . >Packages
apt-ftparchive -o "APT::FTPArchive::Release::Origin=Ostrel" -o "APT::FTPArchive::Release::Label=$label" \
    -o APT::FTPArchive::Release::Suite=stable -o APT::FTPArchive::Release::Codename=tq734 \
    -o APT::FTPArchive::Release::Architectures=amd64 release . >"$stage.Release"
mv "$stage.Release" Release
# Both forms: InRelease is what apt asks for first, Release.gpg serves older clients.
gpg --yes --quiet --local-user "$key" --clearsign --output InRelease Release
gpg --yes --quiet --local-user "$key" --armor --detach-sign --output Release.gpg Release
gpg --quiet --export "$key" >tq734-archive-keyring.gpg
[ -s tq734-archive-keyring.gpg ] || { echo "apt_repo: no public key for $key" >&2; exit 1; }
cd /
rm -rf "$outdir"
mv "$stage" "$outdir"
trap - EXIT
chmod 755 "$outdir"
echo "   apt repository: $outdir ($(ls "$outdir" | tr '\n' ' '))"
