#!/usr/bin/env bash
# Builds the protocol's fuzz target with clang (libFuzzer, AddressSanitizer, UBSan) and runs it
# for a while (FUZZ_SECONDS, default 30). Exits non-zero when the fuzzer finds a crash; the
# input that crashed is left in the build folder (build-fuzz/crash-*).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-30}"
out="${FUZZ_BUILD:-build-fuzz}"
mkdir -p "$out/gen/protocol" "$out/corpus"

CXX="${FUZZ_CXX:-clang++}"
command -v "$CXX" >/dev/null || { echo "fuzz.sh: $CXX not found (apt-get install clang libclang-rt-14-dev)" >&2; exit 2; }

protoc --cpp_out="$out/gen" protocol/messages.proto
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -I. -I"$out/gen")
"$CXX" "${flags[@]}" -o "$out/frame_decoder_fuzz" \
  fuzz/frame_decoder_fuzz.cpp protocol/framing.cpp protocol/message_checks.cpp \
  protocol/user_name.cpp "$out/gen/protocol/messages.pb.cc" \
  $(pkg-config --libs protobuf-lite) -lpthread

# A few frames to start from: a Ping, a Login, a FileOffer header, a server's Pong.
printf '\x40\x00\x03\x00\x00\x00\x02\x08\x01' > "$out/corpus/ping"
printf '\x40\x00\x0c\x00\x00\x00\x0c\x0a\x05alice\x12\x03pwd' > "$out/corpus/login"
printf '\x05\x00\x28\x00\x00\x00\x08\x0a\x04data\x10\x05' > "$out/corpus/offer"
printf '\xc0\x00\x04\x00\x00\x00\x02\x08\x07' > "$out/corpus/pong"

echo "fuzz.sh: running the frame decoder fuzz target for ${seconds}s"
cd "$out"
./frame_decoder_fuzz -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 \
  -print_final_stats=1 corpus
