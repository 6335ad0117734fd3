// Benjamini-Hochberg adjustment of P-values into q-values (false discovery
// rates), the step-up procedure in its usual form:
//
//   q(i) = min over j with p(j) >= p(i) of min(1, m / rank(j) x p(j))
//
// where rank is the position in ascending order and m the number of
// P-values taken part. NaN P-values take no part (they do not count in m)
// and get a NaN q-value. The arithmetic is m / rank, then times p, in
// double precision, so values agree bit for bit with R's p.adjust(p, "BH").
#ifndef KORVELAN_TOOLS_BH_H_
#define KORVELAN_TOOLS_BH_H_

#include <span>
#include <vector>

namespace korvelan::tools {

std::vector<double> BenjaminiHochberg(std::span<const double> p_values);

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_BH_H_
