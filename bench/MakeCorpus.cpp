// vl_bench_corpus: writes the benchmark corpus, deterministic for a given
// seed and fast (about a second per GiB):
//
//   vl_bench_corpus DIR BIG_BYTES SMALL_COUNT
//
// DIR/big.bin       BIG_BYTES of mixed data in chunks of 16 KiB to 1 MiB:
//                   word text, log lines, random bytes and zeros, so
//                   gzip -6 gets a ratio of about 2-3x (as on a mix of
//                   documents, logs and already compressed files)
// DIR/small/dNN/sM/ SMALL_COUNT files of 1-64 KiB of such data, spread over
//                   10 x 4 folders

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// xoshiro256** seeded by splitmix64: fast and the same on every machine.
class TRandom {
public:
    explicit TRandom(uint64_t seed)
    {
        for (uint64_t &s : FState) {
            seed += 0x9E3779B97F4A7C15ull;
            uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            s = z ^ (z >> 31);
        }
    }
    uint64_t Next()
    {
        const uint64_t result = Rotl(FState[1] * 5, 7) * 9;
        const uint64_t t = FState[1] << 17;
        FState[2] ^= FState[0];
        FState[3] ^= FState[1];
        FState[1] ^= FState[2];
        FState[0] ^= FState[3];
        FState[2] ^= t;
        FState[3] = Rotl(FState[3], 45);
        return result;
    }
    // Uniform in [lo, hi].
    uint64_t Range(uint64_t lo, uint64_t hi) { return lo + Next() % (hi - lo + 1); }

private:
    static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t FState[4];
};

[[noreturn]] void Fail(const std::string &what)
{
    std::fprintf(stderr, "vl_bench_corpus: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
}

class TGenerator {
public:
    explicit TGenerator(uint64_t seed) : FRandom(seed)
    {
        // A vocabulary with a skewed use (short common words, long rare
        // ones) compresses like real prose.
        static const char *const syllables[] = {"ka", "lo", "ver", "an", "te", "mis", "do", "re", "stal", "in",
                                                "or", "pe", "bu", "na", "gri", "shen", "el", "to", "ma", "cor"};
        for (int i = 0; i < 3000; ++i) {
            std::string word;
            const int n = 1 + int(FRandom.Range(0, i < 100 ? 1 : 3));
            for (int k = 0; k < n; ++k)
                word += syllables[FRandom.Range(0, 19)];
            FWords.push_back(word);
        }
    }

    // Appends Size bytes of one kind of data.
    void Text(std::string &out, size_t size)
    {
        const size_t end = out.size() + size;
        int inSentence = 0;
        while (out.size() < end) {
            // Common words far more often than rare ones.
            const uint64_t r = FRandom.Next();
            const size_t index = (r & 3) ? (r >> 8) % 100 : (r >> 8) % FWords.size();
            std::string word = FWords[index];
            if (inSentence == 0)
                word[0] = char(word[0] - 32);
            out += word;
            if (++inSentence > int(6 + (r >> 40) % 12)) {
                out += (r >> 50) % 5 == 0 ? ".\n" : ". ";
                inSentence = 0;
            } else {
                out += (r >> 56) % 9 == 0 ? ", " : " ";
            }
        }
        out.resize(end);
    }

    void LogLines(std::string &out, size_t size)
    {
        static const char *const levels[] = {"INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"};
        static const char *const actions[] = {"request served", "cache miss", "connection opened",
                                              "connection closed", "job queued", "job finished", "retrying"};
        const size_t end = out.size() + size;
        char line[160];
        while (out.size() < end) {
            FClock += FRandom.Range(1, 900);
            const uint64_t r = FRandom.Next();
            const int n = std::snprintf(line, sizeof line,
                                        "2024-03-%02u %02u:%02u:%02u.%03u %-5s worker-%02u %s id=%08x took %u ms\n",
                                        unsigned(1 + FClock / 86400000 % 28), unsigned(FClock / 3600000 % 24),
                                        unsigned(FClock / 60000 % 60), unsigned(FClock / 1000 % 60),
                                        unsigned(FClock % 1000), levels[r % 6], unsigned((r >> 8) % 16),
                                        actions[(r >> 16) % 7], unsigned(r >> 32), unsigned((r >> 24) % 500));
            out.append(line, size_t(n));
        }
        out.resize(end);
    }

    void Random(std::string &out, size_t size)
    {
        const size_t start = out.size();
        out.resize(start + size);
        for (size_t i = start; i < out.size(); i += 8) {
            const uint64_t r = FRandom.Next();
            std::memcpy(&out[i], &r, std::min<size_t>(8, out.size() - i));
        }
    }

    void Zeros(std::string &out, size_t size) { out.append(size, '\0'); }

    // One chunk of a kind drawn by weight: text 40, logs 20, random 25, zeros 15.
    void Mixed(std::string &out, size_t size)
    {
        const uint64_t pick = FRandom.Range(0, 99);
        if (pick < 40)
            Text(out, size);
        else if (pick < 60)
            LogLines(out, size);
        else if (pick < 85)
            Random(out, size);
        else
            Zeros(out, size);
    }

    TRandom &Rng() { return FRandom; }

private:
    TRandom FRandom;
    std::vector<std::string> FWords;
    uint64_t FClock = 0;
};

void WriteAll(int fd, const std::string &data, const std::string &path)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("cannot write " + path);
        }
        done += size_t(n);
    }
}

void MakeFolder(const std::string &path)
{
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        Fail("cannot create " + path);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: vl_bench_corpus DIR BIG_BYTES SMALL_COUNT\n");
        return 1;
    }
    const std::string dir = argv[1];
    const uint64_t bigBytes = std::strtoull(argv[2], nullptr, 10);
    const unsigned smallCount = unsigned(std::strtoul(argv[3], nullptr, 10));
    MakeFolder(dir);

    TGenerator gen(20240317);
    {
        const std::string path = dir + "/big.bin";
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            Fail("cannot create " + path);
        std::string buffer;
        uint64_t written = 0;
        while (written < bigBytes) {
            buffer.clear();
            // About 8 MiB per write, built from chunks of 16 KiB to 1 MiB.
            while (buffer.size() < (8u << 20) && written + buffer.size() < bigBytes) {
                const size_t chunk = std::min<uint64_t>(gen.Rng().Range(16 << 10, 1 << 20),
                                                        bigBytes - written - buffer.size());
                gen.Mixed(buffer, chunk);
            }
            WriteAll(fd, buffer, path);
            written += buffer.size();
        }
        if (close(fd) != 0)
            Fail("cannot write " + path);
    }

    const std::string smallDir = dir + "/small";
    MakeFolder(smallDir);
    std::string data;
    for (unsigned i = 0; i < smallCount; ++i) {
        char sub[64];
        std::snprintf(sub, sizeof sub, "/d%02u", i % 10);
        std::string folder = smallDir + sub;
        if (i < 10)
            MakeFolder(folder);
        std::snprintf(sub, sizeof sub, "/s%u", (i / 10) % 4);
        folder += sub;
        if (i < 40)
            MakeFolder(folder);
        const size_t size = gen.Rng().Range(1024, 65536);
        data.clear();
        // Most small files are of one kind; some mix two.
        if (gen.Rng().Range(0, 9) == 0) {
            gen.Mixed(data, size / 2);
            gen.Mixed(data, size - size / 2);
        } else {
            gen.Mixed(data, size);
        }
        char name[64];
        static const char *const extensions[] = {".txt", ".log", ".dat", ".doc", ".csv"};
        std::snprintf(name, sizeof name, "/file%05u%s", i, extensions[i % 5]);
        const std::string path = folder + name;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            Fail("cannot create " + path);
        WriteAll(fd, data, path);
        if (close(fd) != 0)
            Fail("cannot write " + path);
    }
    return 0;
}
