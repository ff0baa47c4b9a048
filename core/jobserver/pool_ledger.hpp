// The build-token pool's arithmetic, free of the FIFO it runs on. GNU make
// gives every client one implicit token that never passes through the pool,
// so a pool for N build threads holds N − 1 tokens: one client alone then
// runs exactly N jobs, and each further client adds its implicit one.
#pragma once

#include <cstdint>
#include <optional>

namespace norvo::jobserver {

// Tokens the pool aims at for `buildThreads`, never more than `usableCores`
// allow (below 1: unknown, no cap) and never below zero.
int64_t targetTokens(int64_t buildThreads, int64_t usableCores);

// What the pool has put into circulation and what it aims at.
struct PoolLedger {
  int64_t issued = 0;  // written to the FIFO and not taken back since
  int64_t target = 0;
};

// Tokens to write now to reach the target; 0 while the pool shrinks.
int64_t tokensToAdd(const PoolLedger& ledger);

// Tokens still to be read back before the pool fits its target. The pool
// never takes them from running jobs: they come back as jobs end.
int64_t tokensOwed(const PoolLedger& ledger);

// The reader took one token from the FIFO: true when the pool keeps it
// (`issued` drops by one); false when the target rose meanwhile and the token
// must go back into the FIFO.
bool keepReadToken(PoolLedger& ledger);

// One look for lost tokens: the processes holding the FIFO open, the bytes in
// it, and the holders again. A client killed by SIGKILL never returns its
// tokens, and nobody else can tell how many it held; only when no process
// holds the FIFO on both sides of the byte count is that count the whole
// pool. Absent counts mean the look failed and prove nothing.
struct HolderLook {
  std::optional<int64_t> clientsBefore;
  std::optional<int64_t> bytesInFifo;
  std::optional<int64_t> clientsAfter;
};

// The ledger after the look: `issued` becomes the bytes in the FIFO when the
// look proves the pool idle, otherwise the ledger is unchanged.
PoolLedger afterLook(PoolLedger ledger, const HolderLook& look);

}  // namespace norvo::jobserver
