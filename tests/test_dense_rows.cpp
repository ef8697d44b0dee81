// SPDX-License-Identifier: MIT
// The vector kernel that sums the rows of shared n-grams: every build this
// machine can run (the generic one always) against a lane-by-lane sum.

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

#include "score_dense_rows.h"

namespace {

using tavik::DenseSums;

struct Case {
    uint32_t lanes;
    size_t hits;
    uint16_t max_rank;  // ranks and query ranks below it
};

void reference(const std::vector<const uint16_t *> &rows, const std::vector<uint32_t> &ranks,
               uint32_t lanes, DenseSums &out) {
    for (size_t k = 0; k < rows.size(); ++k)
        for (uint32_t l = 0; l < lanes; ++l) {
            const int r = rows[k][l], i = static_cast<int>(ranks[k]);
            if (r == 0)
                ++out.absent[l];
            else
                out.sum[l] += static_cast<uint32_t>(r > i ? r - i : i - r);
        }
}

TEST(DenseRows, EveryBuildMatchesLaneByLaneSums) {
    // Lane counts of every kernel shape, runs shorter and longer than one
    // flush, and ranks up to the largest the rows may hold.
    const Case cases[] = {{16, 1, 5},      {16, 40, 4000}, {32, 17, 4000},  {48, 300, 4001},
                          {64, 129, 4000}, {64, 7, 32767}, {64, 64, 32767}, {16, 0, 10},
                          {48, 2, 32767},  {32, 33, 65}};
    std::mt19937 rng(7);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.lanes << " lanes, " << c.hits << " hits, ranks < " << c.max_rank);
        std::vector<std::vector<uint16_t>> storage(c.hits, std::vector<uint16_t>(c.lanes));
        std::vector<const uint16_t *> rows;
        std::vector<uint32_t> ranks;
        for (auto &row : storage) {
            for (uint16_t &r : row)
                r = rng() % 3 == 0 ? 0 : static_cast<uint16_t>(1 + rng() % (c.max_rank - 1));
            rows.push_back(row.data());
            ranks.push_back(1 + rng() % (c.max_rank - 1));
        }
        // As many hits as keep every lane's 16-bit sum below 2^16.
        const uint32_t flush = 0xFFFFu / c.max_rank;
        DenseSums want{}, best{};
        reference(rows, ranks, c.lanes, want);
        for (const auto kernel :
             {tavik::DenseKernel::generic, tavik::DenseKernel::avx2, tavik::DenseKernel::avx512}) {
            if (!tavik::dense_kernel_runs(kernel)) continue;
            SCOPED_TRACE(testing::Message() << "build " << static_cast<int>(kernel));
            DenseSums got{};
            tavik::dense_add_with(kernel, rows.data(), ranks.data(), rows.size(), c.lanes, flush,
                                  got);
            EXPECT_EQ(std::memcmp(&got, &want, sizeof want), 0);
        }
        tavik::dense_add(rows.data(), ranks.data(), rows.size(), c.lanes, flush, best);
        EXPECT_EQ(std::memcmp(&best, &want, sizeof want), 0);
    }
}

}  // namespace
