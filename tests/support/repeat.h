// Repetition and randomness for the tests and the fuzz targets alike:
// repeated and nested text, random text from pieces, the repetition count
// of a loop, and the one source of seeds for randomized tests.
#ifndef CIJOBRESULTS_TESTS_SUPPORT_REPEAT_H
#define CIJOBRESULTS_TESTS_SUPPORT_REPEAT_H

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace testsupport {

// The environment variable that fixes the seed of every randomized test.
inline constexpr char kSeedVariable[] = "CIJOBRESULTS_TEST_SEED";

// A random engine seeded from CIJOBRESULTS_TEST_SEED when it is set, else
// from std::random_device. Tests show Note() with every failure
// (SCOPED_TRACE), so that any failure can be replayed.
class SeededRandom : public std::mt19937 {
public:
    SeededRandom() : SeededRandom(SeedFromEnvironment()) {}
    explicit SeededRandom(unsigned seed) : std::mt19937(seed), m_seed(seed) {}

    unsigned Seed() const { return m_seed; }
    std::string Note() const {
        const std::string seed = std::to_string(m_seed);
        return "random seed " + seed + "; replay with " + kSeedVariable + "=" + seed;
    }

    static unsigned SeedFromEnvironment() {
        const char* fixed = std::getenv(kSeedVariable);
        if (fixed != nullptr && *fixed != '\0') {
            return static_cast<unsigned>(std::strtoul(fixed, nullptr, 10));
        }
        return std::random_device()();
    }

private:
    unsigned m_seed;
};

// Up to maxPieces pieces, each chosen at random; with noisePercent, that
// share of them is a random byte instead.
inline std::string RandomPieces(std::mt19937& random, const std::vector<std::string>& pieces,
                                int maxPieces, unsigned noisePercent = 0) {
    std::string text;
    for (int count = static_cast<int>(random() % static_cast<unsigned>(maxPieces + 1)); count > 0;
         --count) {
        if (random() % 100 < noisePercent) {
            text += static_cast<char>(random() % 256);
        } else {
            text += pieces[random() % pieces.size()];
        }
    }
    return text;
}

// count, or the smaller count when the tests run under valgrind
// (CIJOBRESULTS_UNDER_VALGRIND=1), where repeating the same work only costs
// time.
inline int Repetitions(int count, int underValgrind) {
    const char* flag = std::getenv("CIJOBRESULTS_UNDER_VALGRIND");
    return flag != nullptr && std::string(flag) == "1" ? underValgrind : count;
}

inline std::string Repeat(const std::string& piece, int times) {
    std::string text;
    text.reserve(piece.size() * static_cast<size_t>(times > 0 ? times : 0));
    while (times-- > 0) text += piece;
    return text;
}

// "<e0><e1>...<eN-1>leaf</eN-1>...</e1></e0>": every level a name of its own.
inline std::string NestedElements(int levels) {
    std::string open;
    std::string close;
    for (int i = 0; i < levels; ++i) {
        open += "<e" + std::to_string(i) + ">";
        close.insert(0, "</e" + std::to_string(i) + ">");
    }
    return open + "leaf" + close;
}

}  // namespace testsupport

#endif  // CIJOBRESULTS_TESTS_SUPPORT_REPEAT_H
