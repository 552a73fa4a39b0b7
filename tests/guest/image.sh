# The guest machine's recipe: Debian 12 amd64 with i386 multiarch, 32- and 64-bit Wine, an X
# server for the windows and the tools the scenarios use. Every byte of this file and of
# init.sh goes into the cached image's key, so any change here builds the image again.
# Source, then: guest_build_tree DIR (as root).

# libasan8 and libubsan1: the simulator comes from the host's sanitized native build.
GUEST_PACKAGES="linux-image-amd64 wine wine64 wine32:i386 xvfb xauth xdotool x11-utils imagemagick
  fonts-liberation fonts-wine libasan8 libubsan1 procps mount"

# Both architectures from the same two suites, so that their versions match: the mirror may
# refuse the i386 index of the security suite.
GUEST_SOURCES=("deb http://deb.debian.org/debian bookworm main"
               "deb http://deb.debian.org/debian bookworm-updates main")

guest_build_tree() {
    local dir=$1 init=$2
    mmdebstrap --mode=root --variant=apt --architectures=amd64,i386 \
        --aptopt='APT::Install-Recommends "false"' \
        --include="$(echo $GUEST_PACKAGES | tr ' ' ',')" \
        --customize-hook="copy-in $init /sbin" \
        --customize-hook='chmod 755 "$1/sbin/init.sh" && mv "$1/sbin/init.sh" "$1/sbin/tq-guest-init"' \
        --customize-hook='echo guest >"$1/etc/hostname"' \
        bookworm "$dir" "${GUEST_SOURCES[@]}"
}
