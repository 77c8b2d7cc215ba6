// Every kernel's summing of packed deltas against a plain one in 64 bits:
// the same quotients, bit for bit, wherever every sum stays in [-2^24, 2^24),
// and a refusal, with the sum so far kept, wherever one leaves it.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "binary/delta_sums.hpp"

namespace {

using record_scan::Kernel;

class DeltaSums : public ::testing::TestWithParam<Kernel> {};

INSTANTIATE_TEST_SUITE_P(EveryKernel, DeltaSums,
                         ::testing::ValuesIn(record_scan::available_kernels().begin(),
                                             record_scan::available_kernels().end()),
                         [](const auto& kernel) { return std::string(kernel_name(kernel.param)); });

template <typename T>
void agree_with_the_plain_sums(Kernel kernel, std::mt19937& random) {
    const record_scan::DeltaSummer<T> sum = record_scan::delta_summer<T>(kernel);
    const float factors[] = {1000, 100, 10, 1, 3, 0.5f, 1e-3f};
    constexpr std::int64_t limit = std::int64_t{1} << 24;
    int refused = 0, summed = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const std::size_t count = random() % 600;
        // Small steps as along a chain, now and then the type's extremes.
        std::vector<T> elements(count);
        for (T& element : elements) {
            const auto drawn = static_cast<std::int64_t>(random() % 4 == 0 ? random() : random() % 64);
            element = static_cast<T>(random() % 50 == 0 ? (random() % 2 ? std::numeric_limits<T>::max()
                                                                         : std::numeric_limits<T>::min())
                                                        : static_cast<T>(drawn));
        }
        std::vector<char> bytes(count * sizeof(T));
        if (count != 0) std::memcpy(bytes.data(), elements.data(), bytes.size());  // x86-64 and others here: little-endian
        // Starting anywhere within 2^24, often just inside its edges.
        const std::int64_t start = random() % 3 == 0 ? (random() % 2 ? limit - 1 - random() % 3000 : -limit + random() % 3000)
                                                     : static_cast<std::int64_t>(random() % (2 * limit)) - limit;
        const float factor = factors[random() % std::size(factors)];
        std::vector<float> out(count + 16), want(count);
        std::int64_t running = start;
        bool within = true;
        for (std::size_t i = 0; i < count; ++i) {
            running += elements[i];
            within = within && running >= -limit && running < limit;
            want[i] = static_cast<float>(running) / factor;
        }
        auto last = static_cast<std::int32_t>(start);
        const bool taken = sum(bytes.data(), count, last, factor, out.data());
        ASSERT_EQ(taken, within) << "trial " << trial;
        if (!taken) {
            ASSERT_EQ(last, start);
            ++refused;
            continue;
        }
        ASSERT_EQ(last, running);
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_EQ(std::bit_cast<std::uint32_t>(out[i]), std::bit_cast<std::uint32_t>(want[i])) << "element " << i;
        ++summed;
    }
    // Both outcomes occur often enough to prove something.
    EXPECT_GT(refused, 100);
    EXPECT_GT(summed, 1000);
}

TEST_P(DeltaSums, AgreeWithThePlainSumsForEveryElementType) {
    std::mt19937 random(31);
    agree_with_the_plain_sums<std::int8_t>(GetParam(), random);
    agree_with_the_plain_sums<std::uint8_t>(GetParam(), random);
    agree_with_the_plain_sums<std::int16_t>(GetParam(), random);
    agree_with_the_plain_sums<std::uint16_t>(GetParam(), random);
}

}  // namespace
