# Release builds of the simulator (native) and the updater with its window probe (x86_64)
# for the demo and the benchmark. Source, then: build_release OUTDIR
build_release() {
    local out=$1
    cmake -S . -B "$out/native" -DCMAKE_BUILD_TYPE=Release -DTQ_SANITIZE=OFF -DTQ_TESTS=OFF >/dev/null
    cmake -S . -B "$out/x86_64" -DCMAKE_BUILD_TYPE=Release -DTQ_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake >/dev/null
    cmake --build "$out/native" --target tq734_sim -j2 >/dev/null
    cmake --build "$out/x86_64" --target tq734_updater window_probe -j2 >/dev/null
}

# Release builds of both programs (i686 and x86_64) and the native release tools.
# Source, then: build_release_programs OUTDIR
build_release_programs() {
    local out=$1 arch
    mkdir -p "$out"
    run_logged "$out/native.log" cmake -S . -B "$out/native" -DCMAKE_BUILD_TYPE=Release -DTQ_SANITIZE=OFF -DTQ_TESTS=OFF &&
        run_logged "$out/native.log" cmake --build "$out/native" --target make_guide zip_utf8_names -j2 || return 1
    for arch in i686 x86_64; do
        run_logged "$out/$arch.log" cmake -S . -B "$out/$arch" -DCMAKE_BUILD_TYPE=Release -DTQ_TESTS=OFF \
            -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$arch.cmake" &&
            run_logged "$out/$arch.log" cmake --build "$out/$arch" --target tq734_updater tq734_station -j2 || return 1
    done
}

# Runs a command with its output in LOG, which is shown only when the command fails.
run_logged() {
    local log=$1
    shift
    "$@" >"$log" 2>&1 || { cat "$log" >&2; return 1; }
}

# The "dll function" pairs an executable imports, one a line, DLL names in lower case.
pe_imports() {
    "$2" -p "$1" | awk '
        /^\tDLL Name: / { dll = tolower($3); next }
        /^$/ { dll = "" }
        dll != "" && /^\t[0-9a-f]+\t/ && $NF ~ /^[A-Za-z_]/ { print dll, $NF }'
}

# The maintainer's record of one executable (build/release/pe-facts.txt, not shipped): PE format,
# subsystem and versions, the imports.
pe_facts() {
    local label=$1 exe=$2 objdump=$3
    "$objdump" -p "$exe" | awk -v label="$label" '
        /file format/ { format = $NF }
        /^Magic/ { magic = $3 }
        /^MajorOSystemVersion/ { os = $2 } /^MinorOSystemVersion/ { os = os "." $2 }
        /^MajorSubsystemVersion/ { sub_v = $2 } /^MinorSubsystemVersion/ { sub_v = sub_v "." $2 }
        /^Subsystem/ { sub_n = $3 " " $4; gsub(/[()]/, "", sub_n) }
        END { printf "%s: %s %s, подсистема %s версии %s, версия ОС в заголовке %s\n", label, format, magic, sub_n, sub_v, os }'
    pe_imports "$exe" "$objdump" | awk '
        $1 != dll { if (dll != "") print line; dll = $1; line = "  " dll ":" }
        { line = line " " $2 }
        END { if (dll != "") print line }'
}

# Fails unless every function EXE imports is in the reviewed list (tools/release/imports.txt).
check_release_imports() {
    local exe=$1 objdump=$2 unknown
    unknown=$(pe_imports "$exe" "$objdump" | sort -u | comm -23 - <(grep -v '^#' tools/release/imports.txt | sort -u))
    if [ -n "$unknown" ]; then
        echo "$exe imports functions not yet checked against the Windows versions the guide names:" >&2
        echo "$unknown" | sed 's/^/  /' >&2
        echo "check them, then add them to tools/release/imports.txt" >&2
        return 1
    fi
}

# The release zip from the trees OUT/native (release tools), OUT/i686 and OUT/x86_64, staged in
# OUT/release-stage: package_release OUT DIST; prints the zip's path. SOURCE_DATE_EPOCH is the
# time every entry carries. TQ_TEST_RELEASE=1 makes a test release, tq734-updater-<version>-TEST.zip,
# whose guide and FIRMWARE.txt say at the top that its firmware must not be written into devices;
# without it the placeholder image (type name TQ734_CPU2_PLACEHOLDER in its header) is refused.
package_release() {
    local out=$1 dist=$2 src=$PWD
    local native=$1/native i686=$1/i686 x64=$1/x86_64
    local tools=$native/tools/release stage=$out/release-stage version sha zip suffix= test=()
    local files=(tq734-updater.exe x64/tq734-updater.exe tq734-station.exe x64/tq734-station.exe ИНСТРУКЦИЯ.html
        FIRMWARE.txt)
    : "${SOURCE_DATE_EPOCH:?the release needs SOURCE_DATE_EPOCH}"
    version=$("$tools/make_guide" version) || return 1
    if [ "${TQ_TEST_RELEASE:-0}" = 1 ]; then
        test=(--test)
        suffix=-TEST
    elif "$tools/make_guide" placeholder; then
        echo "the firmware built in is the placeholder image (TypFirmware=TQ734_CPU2_PLACEHOLDER), not a" \
            "firmware release: replace resources/firmware.bin, or make a test release (tools/release.sh --test)" >&2
        return 1
    fi
    rm -rf "$stage"
    mkdir -p "$stage/x64" || return 1
    cp "$i686/app/tq734-updater.exe" "$stage/tq734-updater.exe" || return 1
    cp "$x64/app/tq734-updater.exe" "$stage/x64/tq734-updater.exe" || return 1
    # The station runs the updater beside it: both builds carry both programs.
    cp "$i686/app/tq734-station.exe" "$stage/tq734-station.exe" || return 1
    cp "$x64/app/tq734-station.exe" "$stage/x64/tq734-station.exe" || return 1
    local exe
    for exe in tq734-updater.exe tq734-station.exe; do
        check_release_imports "$stage/$exe" i686-w64-mingw32-objdump || return 1
        check_release_imports "$stage/x64/$exe" x86_64-w64-mingw32-objdump || return 1
    done
    { for exe in tq734-updater.exe tq734-station.exe; do
          pe_facts "$exe" "$stage/$exe" i686-w64-mingw32-objdump
          pe_facts "x64/$exe" "$stage/x64/$exe" x86_64-w64-mingw32-objdump
      done
    } >"$out/pe-facts.txt" || return 1
    "$tools/make_guide" "${test[@]}" guide docs/guide.html.in docs/pictures >"$stage/ИНСТРУКЦИЯ.html" || return 1
    for exe in tq734-updater.exe x64/tq734-updater.exe tq734-station.exe x64/tq734-station.exe; do
        "$tools/make_guide" carries "$stage/$exe" || return 1
    done
    sha=$("$tools/make_guide" image | sha256sum | cut -c1-64)
    "$tools/make_guide" "${test[@]}" firmware "$sha" >"$stage/FIRMWARE.txt" || return 1
    (cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS) || return 1
    files+=(SHA256SUMS)
    if grep -rlaF -e "$src" -e "$out" -e "$dist" "$stage" >&2; then
        echo "build paths in the files above" >&2
        return 1
    fi
    (cd "$stage" && chmod 644 "${files[@]}" && touch -d "@$SOURCE_DATE_EPOCH" "${files[@]}") || return 1
    zip=$dist/tq734-updater-$version$suffix.zip
    mkdir -p "$dist" && rm -f "$zip"
    # Fixed order, times (UTC) and modes; no directory entries, no extra fields.
    (cd "$stage" && TZ=UTC LC_ALL=C.UTF-8 zip -X -D -9 -q "$zip" "${files[@]}") || return 1
    "$tools/zip_utf8_names" "$zip" || return 1
    echo "$zip"
}
