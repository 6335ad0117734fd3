// The row sort's quicksort, written once over an abstract row store so that
// every form of the sort (whole rows of a matrix, or row numbers with their
// keys) makes the same comparisons and the same moves and cannot drift
// apart. Internal to the numeric library.
//
// The sort is a row-wise form of Singleton's quicksort: a
// pivot at a moving fraction R of the segment, median-of-three style
// exchanges with the segment ends, a partition that leaves rows with equal
// keys where they are, the larger half pushed and the smaller sorted at
// once, and short segments finished by an insertion pass that uses the row
// in front of the segment as its guard. Equal keys therefore end in an order
// fixed by this exact sequence; nothing here may be "simplified".
//
// A Store provides, for positions p, q in 1 .. n:
//   using Pivot = ...;                    a copy of one row (the pivot T)
//   int  Compare(p, q)                    compare(row p, row q): -1, 0, +1
//   int  CompareToPivot(p, const Pivot&)  compare(row p, T)
//   int  PivotCompare(const Pivot&, p)    compare(T, row p)
//   Pivot Load(p)                         T = row p
//   void Put(p, const Pivot&)             row p = T
//   void Copy(from, to)                   row to = row from
//   void Swap(p, q)                       exchange rows p and q
// A row's permutation entry is part of the row: it moves with it. (The
// pivot's entry P is always that of the row T holds whenever it is used.)
#ifndef KORVELAN_NUMERIC_ROW_SORT_CORE_H_
#define KORVELAN_NUMERIC_ROW_SORT_CORE_H_

#include <cstddef>
#include <cstdint>

namespace korvelan::numeric::detail {

// The two explicit stacks of pending segments. The larger half is always
// the one pushed, so at most floor(log2 n) segments are ever pending; the
// caller's capacity must cover that.
struct SegmentStack {
  std::int32_t* lower;
  std::int32_t* upper;
  std::size_t capacity;
  std::size_t depth = 0;

  // `equal`: every row of the segment is known to compare equal to every
  // other (kept as the sign of its lower bound, which is at least 1).
  void Push(std::int32_t i, std::int32_t j, bool equal) {
    lower[depth] = equal ? -i : i;
    upper[depth] = j;
    ++depth;
  }
  bool Pop(std::int32_t& i, std::int32_t& j, bool& equal) {
    if (depth == 0) return false;
    --depth;
    equal = lower[depth] < 0;
    i = equal ? -lower[depth] : lower[depth];
    j = upper[depth];
    return true;
  }
};

// Partitions rows i .. j (j - i >= 1) around the pivot at fraction r,
// pushes the larger part and leaves the smaller one in [i, j]. Returns
// whether every row compared equal to the pivot (the two scans between them
// compare every row of the segment with it): then nothing moved, and both
// parts are runs of equal rows.
template <class Store>
bool Partition(Store& a, std::int32_t& i, std::int32_t& j, float r, SegmentStack& stack) {
  std::int32_t k = i;
  // r is always a multiple of 1/128, so (j - i) * r is exact in double (a
  // float product would round for long segments and could move the pivot);
  // i is whole, so truncating the sum is truncating the product.
  const std::int32_t ij =
      i + static_cast<std::int32_t>(static_cast<double>(j - i) * static_cast<double>(r));
  typename Store::Pivot t = a.Load(ij);
  int c = a.CompareToPivot(i, t);
  bool equal = c == 0;
  if (c == +1) {
    a.Copy(i, ij);
    a.Put(i, t);
    t = a.Load(ij);
  }
  std::int32_t l = j;
  c = a.CompareToPivot(j, t);
  equal = equal && c == 0;
  if (c == -1) {
    a.Copy(j, ij);
    a.Put(j, t);
    t = a.Load(ij);
    if (a.CompareToPivot(i, t) == +1) {
      a.Copy(i, ij);
      a.Put(i, t);
      t = a.Load(ij);
    }
  }
  // Row i is now no greater than T and row j no less, so both scans stop
  // inside the segment without bound tests.
  while (true) {
    do {
      --l;
      c = a.CompareToPivot(l, t);
      equal = equal && c == 0;
    } while (c == +1);
    do {
      ++k;
      c = a.CompareToPivot(k, t);
      equal = equal && c == 0;
    } while (c == -1);
    if (k > l) break;
    if (a.Compare(l, k) != 0) a.Swap(l, k);
  }
  if (l - i > j - k) {
    stack.Push(i, l, equal);
    i = k;
  } else {
    stack.Push(k, j, equal);
    j = l;
  }
  return equal;
}

// Insertion pass over rows i .. j (i > 1); row i - 1 compares no greater
// than any of them and stops the backward walk.
template <class Store>
void GuardedInsertion(Store& a, std::int32_t i, std::int32_t j) {
  for (; i != j; ++i) {
    if (a.Compare(i, i + 1) != +1) continue;
    const typename Store::Pivot t = a.Load(i + 1);
    std::int32_t k = i;
    do {
      a.Copy(k, k + 1);
      --k;
    } while (a.PivotCompare(t, k) == -1);
    a.Put(k + 1, t);
  }
}

// Sorts rows 1 .. n ascending.
//
// A run of equal rows that does not start at row 1 is left as it is: its
// partitions and insertion pass would compare without moving a row, and
// nothing within it reaches the fraction r, which changes only on segments
// that start at row 1. The sort of 500000 rows of which nearly all are zero
// (the class sort) spends most of its comparisons there otherwise.
template <class Store>
void QuickSortRows(Store& a, std::int32_t n, SegmentStack stack) {
  std::int32_t i = 1;
  std::int32_t j = n;
  float r = 0.375f;
  bool equal = false;  // rows i .. j known to be equal
  enum class Step { kEntryA, kEntryB, kPop };
  Step step = Step::kEntryA;
  while (true) {
    switch (step) {
      case Step::kEntryA:
        if (i == j) {
          step = Step::kPop;
          break;
        }
        // The fraction cycles through single-precision values; the test
        // constant is the float nearest 0.5898437.
        if (r <= 0.5898437f) {
          r = r + 0.0390625f;
        } else {
          r = r - 0.21875f;
        }
        equal = Partition(a, i, j, r, stack);
        step = Step::kEntryB;
        break;
      case Step::kEntryB:
        if (equal && i != 1) {
          step = Step::kPop;
        } else if (j - i >= 11) {
          equal = Partition(a, i, j, r, stack);
        } else if (i == 1) {
          step = Step::kEntryA;
        } else {
          GuardedInsertion(a, i, j);
          step = Step::kPop;
        }
        break;
      case Step::kPop:
        if (!stack.Pop(i, j, equal)) return;
        step = Step::kEntryB;
        break;
    }
  }
}

}  // namespace korvelan::numeric::detail

#endif  // KORVELAN_NUMERIC_ROW_SORT_CORE_H_
