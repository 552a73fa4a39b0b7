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
