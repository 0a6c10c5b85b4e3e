// Store wait: returns once the inbox page's Relay store has taken a write,
// so that the Watcher reads the inbox right away instead of on its next
// timer tick.
//
// Runs as the body of an async function in the page's own world, with the
// named arguments `since` (the store's write epoch last seen, a number; any
// other value takes the epoch at the start), `timeoutMs` and `intervalMs`.
// It reads only the environment the inbox snapshot cached in
// window.__halvyRelayEnv and the store's public getEpoch(), checked every
// `intervalMs` milliseconds; it touches none of the page's own objects.
//
// Returns {state, epoch}:
//   "changed"      the epoch differs from `since`; `epoch` is the new one
//                  (null when the cached environment itself was replaced)
//   "timeout"      no write within `timeoutMs`
//   "unsupported"  no cached environment, or its store has no numeric epoch
//                  (`reason` says which)

const env = window.__halvyRelayEnv;
let store = null;
try {
  store = env && typeof env.getStore === "function" ? env.getStore() : null;
} catch (e) {
  store = null;
}
if (!store) return { state: "unsupported", reason: "no store" };

const epochOf = () => {
  try {
    const e = typeof store.getEpoch === "function" ? store.getEpoch() : null;
    return typeof e === "number" && Number.isFinite(e) ? e : null;
  } catch (e) {
    return null;
  }
};
const start = epochOf();
if (start === null) return { state: "unsupported", reason: "no epoch" };

const reference = typeof since === "number" ? since : start;
if (start !== reference) return { state: "changed", epoch: start };

const every = typeof intervalMs === "number" && intervalMs > 0 ? intervalMs : 100;
const limit = typeof timeoutMs === "number" && timeoutMs >= 0 ? timeoutMs : 15000;
return await new Promise((resolve) => {
  const began = Date.now();
  const timer = setInterval(() => {
    if (window.__halvyRelayEnv !== env) {
      clearInterval(timer);
      resolve({ state: "changed", epoch: null });
      return;
    }
    const e = epochOf();
    if (e === null) {
      clearInterval(timer);
      resolve({ state: "unsupported", reason: "no epoch" });
    } else if (e !== reference) {
      clearInterval(timer);
      resolve({ state: "changed", epoch: e });
    } else if (Date.now() - began >= limit) {
      clearInterval(timer);
      resolve({ state: "timeout", epoch: e });
    }
  }, every);
});
