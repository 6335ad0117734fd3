// Putting every study's ranks on one scale: a study that ranked n of the P
// probes has its ranks 1 .. n stretched to P/n .. P, so that studies of
// different sizes weigh alike in the mean ranks.
#ifndef KORVELAN_ENGINE_SCALING_H_
#define KORVELAN_ENGINE_SCALING_H_

#include <cstdint>
#include <vector>

#include "engine/model.h"
#include "engine/worker_pool.h"

namespace korvelan::engine {

// Per study j = 1 .. S (element j - 1): the number of probes among rows
// 1 .. P whose rank is not the missing marker, counted in single precision
// (exact: whole numbers below 2^24).
std::vector<float> CountPresent(const RankMatrix& ranks, std::int32_t probes, std::int32_t studies);

// Every present rank r of study j becomes float((P / count(j)) * r): the
// quotient and the product in double, rounded to float once, when stored.
// Missing markers stay; a study with no present rank has nothing to scale.
void ScaleRanks(RankMatrix& ranks, std::int32_t probes, std::int32_t studies,
                const std::vector<float>& present);

// CountPresent and ScaleRanks in one, each study counted and scaled by one
// of the pool's threads (a study's scale depends on its own column only).
// The ranks are those of the two steps, bit for bit.
void ScaleStudies(RankMatrix& ranks, std::int32_t probes, std::int32_t studies, WorkerPool& pool);

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_SCALING_H_
