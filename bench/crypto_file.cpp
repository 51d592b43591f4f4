// Encrypting and decrypting a clip body of the largest size that is synced (5.5 MiB)
// through the file functions, against the same bytes pushed and pulled through a bare
// secretstream loop in memory. The file path should keep at least 70 % of the bare speed
// in wall-clock time (waiting for the file system counts).

#include "service/sodiumglue.h"
#include "store/clipbodylimit.h"

#include <benchmark/benchmark.h>
#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr size_t kBodyBytes = size_t(ClipBodyLimit::kBytes);
constexpr size_t kChunk = 4096;
constexpr size_t kAbytes = crypto_secretstream_xchacha20poly1305_ABYTES;
constexpr size_t kHeader = crypto_secretstream_xchacha20poly1305_HEADERBYTES;

std::vector<unsigned char> body()
{
    std::vector<unsigned char> b(kBodyBytes);
    randombytes_buf(b.data(), b.size());
    return b;
}

struct Workspace {
    std::filesystem::path dir;
    Workspace()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "nuvarel-bench-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            std::abort();
        dir = tmpl;
    }
    ~Workspace() { std::filesystem::remove_all(dir); }
};

void BM_FileFunctions(benchmark::State& state)
{
    ce_init();
    Workspace ws;
    const std::string plain = (ws.dir / "plain").string();
    const std::string enc = (ws.dir / "enc").string();
    const std::string dec = (ws.dir / "dec").string();
    {
        const auto b = body();
        std::ofstream(plain, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
    }
    unsigned char key[CE_KEY_BYTES];
    crypto_secretstream_xchacha20poly1305_keygen(key);
    for (auto _ : state) {
        if (ce_encrypt_file(enc.c_str(), plain.c_str(), key) != 0 || ce_decrypt_file(dec.c_str(), enc.c_str(), key) != 0) {
            state.SkipWithError("file round trip failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBodyBytes * 2);
}

void BM_BareSecretstream(benchmark::State& state)
{
    ce_init();
    const auto plain = body();
    std::vector<unsigned char> enc(kHeader + (kBodyBytes / kChunk + 1) * (kChunk + kAbytes));
    std::vector<unsigned char> dec(kBodyBytes);
    unsigned char key[CE_KEY_BYTES];
    crypto_secretstream_xchacha20poly1305_keygen(key);
    for (auto _ : state) {
        crypto_secretstream_xchacha20poly1305_state st;
        crypto_secretstream_xchacha20poly1305_init_push(&st, enc.data(), key);
        size_t in = 0, out = kHeader;
        // The same chunking as the file format, ending on an empty FINAL chunk.
        for (;;) {
            const size_t n = std::min(kChunk, kBodyBytes - in);
            const bool last = n < kChunk;
            unsigned long long clen = 0;
            crypto_secretstream_xchacha20poly1305_push(&st, enc.data() + out, &clen, plain.data() + in, n, nullptr, 0,
                                                       last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL : 0);
            in += n;
            out += clen;
            if (last)
                break;
        }
        crypto_secretstream_xchacha20poly1305_init_pull(&st, enc.data(), key);
        size_t pos = kHeader, back = 0;
        unsigned char tag = 0;
        while (pos < out) {
            const size_t n = std::min(kChunk + kAbytes, out - pos);
            unsigned long long mlen = 0;
            if (crypto_secretstream_xchacha20poly1305_pull(&st, dec.data() + back, &mlen, &tag, enc.data() + pos, n,
                                                           nullptr, 0) != 0) {
                state.SkipWithError("bare round trip failed");
                return;
            }
            pos += n;
            back += mlen;
        }
        benchmark::DoNotOptimize(dec.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBodyBytes * 2);
}

BENCHMARK(BM_FileFunctions)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_BareSecretstream)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

// Keeps the console output and remembers each benchmark's speed for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> bytesPerSecond;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (!run.error_occurred && it != run.counters.end())
                bytesPerSecond[run.benchmark_name()] = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double file = 0, bare = 0;
    for (const auto& [name, speed] : reporter.bytesPerSecond) {
        if (name.rfind("BM_FileFunctions", 0) == 0)
            file = speed;
        else if (name.rfind("BM_BareSecretstream", 0) == 0)
            bare = speed;
    }
    if (file > 0 && bare > 0)
        std::printf("file functions at %.1f %% of the bare secretstream loop (goal: 70 %% or more)\n",
                    file / bare * 100.0);
    benchmark::Shutdown();
    return 0;
}
