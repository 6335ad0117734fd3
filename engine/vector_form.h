// The instruction-set forms of the engine's vector loops.
//
// A few inner loops (STATS, the counting's table lookups) are compiled
// twice: for the baseline instruction set of the build and, on x86, for
// AVX2, whose eight single-precision (four double) lanes halve their vector
// steps. The form is chosen when a loop starts, from what the processor
// reports. Each lane does exactly the IEEE operations the source names (no
// fused multiply-add: contraction is off and FMA is not enabled), so every
// form gives the same bits; tests hold the forms against each other.
#ifndef KORVELAN_ENGINE_VECTOR_FORM_H_
#define KORVELAN_ENGINE_VECTOR_FORM_H_

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KORVELAN_AVX2_FORMS 1
#else
#define KORVELAN_AVX2_FORMS 0
#endif

namespace korvelan::engine {

enum class VectorForm {
  kWidest,    // the widest form the processor runs
  kBaseline,  // the baseline form, whatever the processor
};

// Whether a loop asked for `form` takes its AVX2 form here.
inline bool UseAvx2(VectorForm form) {
#if KORVELAN_AVX2_FORMS
  return form == VectorForm::kWidest && __builtin_cpu_supports("avx2");
#else
  (void)form;
  return false;
#endif
}

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_VECTOR_FORM_H_
