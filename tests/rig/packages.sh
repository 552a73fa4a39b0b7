# Debian packages the build, the tests and the demo need. Source, then call ensure_packages:
# as root it installs what is missing; otherwise it names the packages and fails.
TQ_PACKAGES="g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 wine fonts-liberation fonts-wine xvfb xauth xdotool x11-utils imagemagick clang libclang-rt-14-dev
  googletest cmake g++ procps zip unzip git
  pkg-config libgtk-3-dev python3-pyatspi at-spi2-core dbus-x11
  make dpkg-dev file lintian mmdebstrap qemu-system-x86 qemu-utils e2fsprogs rsyslog"

ensure_packages() {
    local p missing=""
    for p in $TQ_PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
    done
    [ -n "$missing" ] || return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing Debian packages:$missing" >&2
        echo "run this script as root to install them, or: sudo apt-get install$missing" >&2
        return 1
    fi
    echo "== installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    # Another installer may hold the lock for a while: wait for it rather than fail.
    apt-get -o DPkg::Lock::Timeout=900 update -qq
    apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends $missing >/dev/null
}
