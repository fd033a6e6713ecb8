// The line reader's terminator search and the per-message header and body decoding.
#include <benchmark/benchmark.h>

#include <string>

#include "message/Coders.h"
#include "message/HeaderCoding.h"
#include "message/MailGlobal.h"

namespace {

// A 16 KiB receive buffer of 76-byte lines: the reader searches it for each CR LF in turn.
void BM_FindInMemoryLines(benchmark::State& state) {
    std::string buffer;
    while (buffer.size() < 16384) buffer += std::string(74, 'x') + "\r\n";
    for (auto _ : state) {
        size_t from = 0, found = 0;
        while (from < buffer.size()) {
            size_t hit = tarnwick::FindInMemory("\r\n", buffer.data() + from, buffer.size() - from);
            if (hit == 0) break;
            from += hit + 1;
            ++found;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_FindInMemoryLines);

// No terminator at all: a long line still arriving.
void BM_FindInMemoryMiss(benchmark::State& state) {
    const std::string buffer(static_cast<size_t>(state.range(0)), 'x');
    for (auto _ : state) benchmark::DoNotOptimize(tarnwick::FindInMemory("\r\n", buffer.data(), buffer.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_FindInMemoryMiss)->Arg(16384)->Arg(1 << 20);

void BM_DecodeEncodedWords(benchmark::State& state) {
    const std::string subject =
        "=?ISO-2022-JP?B?GyRCJEgkYRsoQg==?= =?ISO-8859-1?Q?Caf=E9_au_lait?= plain text =?UTF-8?B?w6k=?=";
    for (auto _ : state) benchmark::DoNotOptimize(tarnwick::DecodeEncodedWords(subject));
}
BENCHMARK(BM_DecodeEncodedWords);

void BM_Base64DecodeLine(benchmark::State& state) {
    const std::string line = tarnwick::EncodeTextWith<tarnwick::TMailEncoderMIME>(std::string(57, '\xa5'));
    tarnwick::TMailDecoderMIME decoder;
    tarnwick::TMemoryStream out;
    for (auto _ : state) {
        out.Clear();
        decoder.DecodeIntoStream(line, out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(line.size()));
}
BENCHMARK(BM_Base64DecodeLine);

}  // namespace

BENCHMARK_MAIN();
