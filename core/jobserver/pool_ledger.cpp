#include "core/jobserver/pool_ledger.hpp"

#include <algorithm>

namespace norvo::jobserver {

int64_t targetTokens(int64_t buildThreads, int64_t usableCores) {
  int64_t threads = usableCores >= 1 ? std::min(buildThreads, usableCores) : buildThreads;
  return std::max<int64_t>(0, threads - 1);
}

int64_t tokensToAdd(const PoolLedger& ledger) {
  return std::max<int64_t>(0, ledger.target - std::max<int64_t>(0, ledger.issued));
}

int64_t tokensOwed(const PoolLedger& ledger) {
  return std::max<int64_t>(0, ledger.issued - std::max<int64_t>(0, ledger.target));
}

bool keepReadToken(PoolLedger& ledger) {
  if (tokensOwed(ledger) == 0) return false;
  --ledger.issued;
  return true;
}

PoolLedger afterLook(PoolLedger ledger, const HolderLook& look) {
  if (look.clientsBefore == 0 && look.clientsAfter == 0 && look.bytesInFifo &&
      *look.bytesInFifo >= 0)
    ledger.issued = *look.bytesInFifo;
  return ledger;
}

}  // namespace norvo::jobserver
