# An emulated Debian 12 amd64 machine for running our Windows programs under 32- and 64-bit
# Wine: this host's kernel refuses 32-bit code, the guest's stock kernel runs it. QEMU's TCG
# needs no KVM. Source this file, then:
#   guest_image CACHE        the guest's disk, kernel and initrd in CACHE/image-KEY (built once)
#   guest_prefixes CACHE     a layer over that disk holding the Wine prefixes (built once)
#   guest_boot DISK JOB OUT SECONDS [keep]
#                            boots DISK, runs JOB/job.sh inside with the directory OUT as its
#                            argument and copies that directory back into OUT; the disk's
#                            changes are dropped unless "keep" is given. Returns the job's code.
# Everything goes through disks: the programs are copied into the guest, never run from a
# share (a 9p share's mapped pages crashed programs at their entry point).
# GUEST_SMP (2) and GUEST_MEMORY (3072, in MB) size the machine: with two virtual CPUs the
# program, the Wine server, the simulator and X do not queue behind each other.
GUEST_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
GUEST_QEMU_PID="" GUEST_WORK=""

guest_log() { echo "guest: $*" >&2; }

# A short hash of the given files' contents (and of any extra words).
guest_key() {
    local f
    { for f in "$@"; do if [ -f "$f" ]; then cat "$f"; else echo "$f"; fi; done; } | sha256sum | cut -c1-16
}

guest_image_key() { guest_key "$GUEST_DIR/image.sh" "$GUEST_DIR/init.sh"; }
guest_prefixes_key() { guest_key "$(guest_image_key)" "$GUEST_DIR/prefixes_job.sh"; }

# Builds the image unless the one for this recipe is there; older ones are removed.
guest_image() {
    local cache=$1 key dir t0
    key=$(guest_image_key)
    dir=$cache/image-$key
    [ -f "$dir/ready" ] && { guest_log "image $key cached"; return 0; }
    [ "$(id -u)" = 0 ] || { guest_log "building the image needs root (mmdebstrap, device nodes)"; return 1; }
    # Not into anything mounted below (an interrupted mmdebstrap may leave its /proc there).
    rm -rf --one-file-system "$cache"/image-* "$cache"/prefixes-*
    mkdir -p "$dir"
    t0=$(date +%s)
    guest_log "building image $key from Debian packages (several minutes)"
    (
        . "$GUEST_DIR/image.sh"
        guest_build_tree "$dir/tree" "$GUEST_DIR/init.sh"
    ) >"$dir/build.log" 2>&1 || { tail -30 "$dir/build.log" >&2; guest_log "image build failed ($dir/build.log)"; return 1; }
    cp "$dir"/tree/boot/vmlinuz-* "$dir/vmlinuz" && cp "$dir"/tree/boot/initrd.img-* "$dir/initrd.img" &&
        mke2fs -q -t ext4 -L tqguest -d "$dir/tree" "$dir/root.raw" 8G >>"$dir/build.log" 2>&1 ||
        { tail -30 "$dir/build.log" >&2; guest_log "cannot make the disk"; return 1; }
    rm -rf --one-file-system "$dir/tree"
    echo "$(( $(date +%s) - t0 ))" >"$dir/build-seconds"
    touch "$dir/ready"
    guest_log "image $key built in $(cat "$dir/build-seconds") s"
}

# The Wine prefixes (win64 and win32) made once inside the guest and kept as a copy-on-write
# layer over the image's disk.
guest_prefixes() {
    local cache=$1 key image layer t0 job
    guest_image "$cache" || return 1
    image=$cache/image-$(guest_image_key)
    key=$(guest_prefixes_key)
    layer=$cache/prefixes-$key.qcow2
    [ -f "$layer.ready" ] && { guest_log "Wine prefixes $key cached"; return 0; }
    rm -rf "$cache"/prefixes-*
    qemu-img create -q -f qcow2 -F raw -b "$image/root.raw" "$layer" || return 1
    job=$(mktemp -d "$cache/prefixes-job.XXXXXX")
    cp "$GUEST_DIR/prefixes_job.sh" "$job/job.sh"
    echo 900 >"$job/time-limit"
    t0=$(date +%s)
    guest_log "making the Wine prefixes $key in the guest (a few minutes)"
    if guest_boot "$layer" "$job" "$cache/prefixes-$key.out" 1000 keep; then
        echo "$(( $(date +%s) - t0 ))" >"$cache/prefixes-$key.seconds"
        touch "$layer.ready"
        guest_log "Wine prefixes made in $(cat "$cache/prefixes-$key.seconds") s: $(tr '\n' ' ' <"$cache/prefixes-$key.out/times" 2>/dev/null)"
        rm -rf "$job"
        return 0
    fi
    cat "$cache/prefixes-$key.out/job.log" >&2 2>/dev/null
    rm -rf "$job" "$layer"
    guest_log "making the Wine prefixes failed"
    return 1
}

# Stops the machine (by its pid) and removes the boot's scratch files.
guest_stop() {
    [ -n "$GUEST_WORK" ] && rm -rf "$GUEST_WORK"
    GUEST_WORK=""
    [ -n "$GUEST_QEMU_PID" ] || return 0
    kill "$GUEST_QEMU_PID" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$GUEST_QEMU_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$GUEST_QEMU_PID" 2>/dev/null
    wait "$GUEST_QEMU_PID" 2>/dev/null
    GUEST_QEMU_PID="" GUEST_WORK=""
    return 0
}

guest_boot() {
    local disk=$1 job=$2 out=$3 seconds=$4 keep=${5:-} image work format snapshot=on t0 rc
    image=$(dirname "$disk")/image-$(guest_image_key)
    [ "$keep" = keep ] && snapshot=off
    format=raw
    case $disk in *.qcow2) format=qcow2 ;; esac
    rm -rf "$out"
    mkdir -p "$out"
    work=$(mktemp -d "$(dirname "$disk")/boot.XXXXXX")
    GUEST_WORK=$work
    tar -cf "$work/job.tar" --owner=0 --group=0 -C "$job" . || { rm -rf "$work"; return 1; }
    truncate -s 1G "$work/results.img"
    t0=$(date +%s)
    # -cpu max without SMAP: with it every 64-bit Wine process died with a guest kernel oops.
    qemu-system-x86_64 -machine q35 -accel tcg -cpu max,-smap -smp "${GUEST_SMP:-2}" -m "${GUEST_MEMORY:-3072}" \
        -nodefaults -no-user-config -display none -no-reboot -nic none \
        -serial "file:$out/console.log" \
        -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0 init=/sbin/tq-guest-init panic=1 quiet" \
        -drive "file=$disk,if=virtio,format=$format,cache=unsafe,snapshot=$snapshot" \
        -drive "file=$work/job.tar,if=virtio,format=raw,readonly=on" \
        -drive "file=$work/results.img,if=virtio,format=raw,cache=unsafe" \
        >"$out/qemu.log" 2>&1 &
    GUEST_QEMU_PID=$!
    while kill -0 "$GUEST_QEMU_PID" 2>/dev/null; do
        if [ $(( $(date +%s) - t0 )) -ge "$seconds" ]; then
            guest_log "the guest ran over ${seconds} s; stopping it"
            guest_stop
            break
        fi
        sleep 1
    done
    wait "$GUEST_QEMU_PID" 2>/dev/null
    GUEST_QEMU_PID="" GUEST_WORK=""
    echo "$(( $(date +%s) - t0 ))" >"$out/boot-seconds"
    tar -xf "$work/results.img" -C "$out" 2>/dev/null
    rm -rf "$work"
    GUEST_WORK=""
    rc=$(cat "$out/job.rc" 2>/dev/null)
    [ -n "$rc" ] || { guest_log "the guest left no result"; tail -20 "$out/console.log" >&2; return 1; }
    return "$rc"
}
