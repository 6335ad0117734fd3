// The meta-analysis layer (korvelan/meta.h): not implemented yet.
#include "korvelan/meta.h"

#include <stdexcept>

namespace korvelan {

MetaResults RunMeta(const std::vector<Study>&, const MetaOptions&) {
  throw Error("korvelan: RunMeta is not implemented yet");
}

}  // namespace korvelan
