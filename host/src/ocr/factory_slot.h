// The one piece of state that outlives a request: activation factories, cached for the
// life of the process. Platform-free so the publication rule can be tested anywhere.
#pragma once

#include <atomic>
#include <cstdint>

namespace quorvane::ocr {

// Caches `candidate` (one reference, handed over) in `slot` if the slot is still empty and
// returns the cached object. A candidate that loses the race to another thread is released,
// so exactly one reference per slot is ever kept.
template <class T>
T* publish_factory(std::atomic<T*>& slot, T* candidate) {
  T* cached = nullptr;
  if (slot.compare_exchange_strong(cached, candidate, std::memory_order_acq_rel, std::memory_order_acquire))
    return candidate;
  candidate->Release();
  return cached;
}

// CO_E_NOTINITIALIZED: the calling thread is in no apartment and the process has no MTA.
inline constexpr std::int32_t kCoNotInitialized = static_cast<std::int32_t>(0x800401F0u);

// Runs `activate` (returning an HRESULT); when the thread turns out to be in no apartment,
// joins the multithreaded apartment through `join_mta` and tries exactly once more. The host
// never initialises COM itself: joining the MTA implicitly leaves the serving thread free of
// apartment rules.
template <class Activate, class JoinMta>
std::int32_t activate_joining_mta(Activate&& activate, JoinMta&& join_mta) {
  std::int32_t hr = activate();
  if (hr != kCoNotInitialized) return hr;
  join_mta();
  return activate();
}

}  // namespace quorvane::ocr
