#!/usr/bin/env bash
# Fetches the pinned llama.cpp release (v0.4.0 of the ggml-org project) from
# the npm registry into a cache folder, once:
#   <cache>/include   llama.h and ggml's headers, from node-llama-cpp's source bundle
#   <cache>/lib       the prebuilt x86-64 shared libraries of @node-llama-cpp/linux-x64:
#                     libllama, libggml, libggml-base and one libggml-cpu-* per CPU
#                     generation (the engine loads the best one at run time)
#   <cache>/models    ggml-vocab-llama-spm.gguf, a real tokenizer for the test models
#   <cache>/LICENSE   llama.cpp's licence, shipped with the libraries
# The tarballs are checked against the digests below. Needs npm, git, tar.
#   tools/fetch-llama.sh <cache folder>
set -euo pipefail
cache=$1
version=3.21.1
source_tgz=node-llama-cpp-$version.tgz
source_sha256=7a231d6bafa14142a1cbed9893d4ec5bc6041b2a5f5939a623accaab4203c11f
binary_tgz=node-llama-cpp-linux-x64-$version.tgz
binary_sha256=4b5b65a8b2611d8af94349b02d815c0f424a30a0a19aef2be5db25ecfef6730f
stamp=$cache/.fetched-$version

[ -f "$stamp" ] && exit 0
if [ "$(uname -s)-$(uname -m)" != Linux-x86_64 ]; then
    echo "fetch-llama.sh: no prebuilt llama.cpp for $(uname -s)-$(uname -m); the on-device model is left out" >&2
    exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "Fetching llama.cpp (npm: node-llama-cpp@$version, @node-llama-cpp/linux-x64@$version)"
(cd "$work" && npm pack --silent "node-llama-cpp@$version" "@node-llama-cpp/linux-x64@$version" >/dev/null)
(cd "$work" && printf '%s  %s\n%s  %s\n' "$source_sha256" "$source_tgz" "$binary_sha256" "$binary_tgz" | sha256sum -c --quiet)

tar -xzf "$work/$source_tgz" -C "$work" package/llama/gitRelease.bundle
git clone -q --no-checkout "$work/package/llama/gitRelease.bundle" "$work/llama.cpp"
mkdir -p "$work/out/lib"
git -C "$work/llama.cpp" archive HEAD include ggml/include models/ggml-vocab-llama-spm.gguf LICENSE \
    | tar -x -C "$work/out"
mv "$work/out/ggml/include/"* "$work/out/include/"
rm -rf "$work/out/ggml"

tar -xzf "$work/$binary_tgz" -C "$work" package/bins/linux-x64
for lib in "$work"/package/bins/linux-x64/lib*.so; do
    case $(basename "$lib") in
        libllama-common.so) ;;  # the examples' helpers: not used
        *) install -m 644 "$lib" "$work/out/lib/" ;;
    esac
done

rm -rf "$cache"
mkdir -p "$(dirname "$cache")"
mv "$work/out" "$cache"
touch "$stamp"
