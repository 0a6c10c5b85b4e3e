// Store refetch: runs the inbox page's own thread-list query again through
// its Relay environment, then repairs what a fresh first page does to the
// list: older threads the new page no longer holds are re-attached behind
// it and the old pagination cursor is restored, so the list keeps its
// length. Runs as an async function body in the page's own world, with no
// arguments, after the inbox snapshot cached the environment in
// window.__halvyRelayEnv. Takes up to about 12 seconds.
//
// Result: { ok, reason?, execMs?, conns? }. A failure publishes nothing.

const THREAD = "XFBIGDirectViewerThread";
const text = (v) => (v == null ? "" : String(v));
const isObj = (v) => v !== null && typeof v === "object";
const errorText = (e) => (isObj(e) && e.message != null ? String(e.message) : String(e)).slice(0, 120);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

const env = window.__halvyRelayEnv;
if (!env) return { ok: false, reason: "no env" };
const store = env.getStore();
const src = store.getSource();
const get = (link) => (isObj(link) && link.__ref != null ? src.get(link.__ref) || null : null);

// ---- The Map of query roots among the store's own members.
const isRoot = (v) => isObj(v) && !!v.operation && typeof v.refCount === "number";
let roots = null;
for (const k of Object.keys(store)) {
  const v = store[k];
  if (!(v instanceof Map)) continue;
  let hit = false;
  for (const root of v.values()) {
    if (isRoot(root)) {
      hit = true;
      break;
    }
  }
  if (hit) {
    roots = v;
    break;
  }
}
if (!roots) return { ok: false, reason: "no roots" };

// ---- The list query: the root with the professional-account gate
// variable; else a retained thread-list root. Page queries never count.
let listQuery = null;
let fallback = null;
for (const root of roots.values()) {
  if (!isRoot(root)) continue;
  const request = isObj(root.operation.request) ? root.operation.request : {};
  const names = isObj(request.variables) ? Object.keys(request.variables) : [];
  if (names.includes("cursor") || names.includes("after")) continue;
  if (names.some((n) => n.includes("IGDIsProfessionalAccountGK"))) {
    listQuery = root;
    break;
  }
  if (!fallback && root.refCount > 0) {
    const params = isObj(request.node) && isObj(request.node.params) ? request.node.params : {};
    if (
      (names.includes("folder") && names.includes("newer_than_timestamp_ms")) ||
      /ThreadList|DirectInbox/i.test(text(params.name))
    ) {
      fallback = root;
    }
  }
}
const query = listQuery || fallback;
if (!query) return { ok: false, reason: "no list query" };

// Thread key of an edge: the node's thread_key, else its thread_fbid.
const threadKeyOf = (t) => text(t.thread_key) || text(t.thread_fbid);
const nodeOf = (edge) => {
  const node = edge ? get(edge.node) : null;
  if (!node) return "";
  if (node.__typename === THREAD) return threadKeyOf(node);
  for (const k of Object.keys(node)) {
    const r = get(node[k]);
    if (r && r.__typename === THREAD) return threadKeyOf(r);
  }
  return "";
};

// ---- Remember every mailbox connection as it is now.
const remembered = [];
for (const id of src.getRecordIDs()) {
  const mb = src.get(id);
  if (!mb || !text(mb.__typename).endsWith("Mailbox")) continue;
  for (const key of Object.keys(mb)) {
    if (!key.startsWith("__") || !key.includes("_connection(") || key.includes("PENDING")) continue;
    const link = mb[key];
    const conn = get(link);
    if (!conn || !isObj(conn.edges) || !Array.isArray(conn.edges.__refs)) continue;
    const edges = conn.edges.__refs.slice();
    const pi = get(conn.page_info);
    remembered.push({
      id: link.__ref,
      edges,
      keys: edges.map((e) => nodeOf(src.get(e))),
      hasNext: pi ? pi.has_next_page : false,
      endCursor: pi ? pi.end_cursor : undefined,
    });
  }
}
if (remembered.length === 0) return { ok: false, reason: "no connection" };

// Keep the old edge and thread records from being collected while the
// fresh page replaces them. Taken once per page and never released.
if (!window.__halvyGCHold && typeof store.holdGC === "function") {
  try {
    window.__halvyGCHold = store.holdGC();
  } catch (e) {
    // Without a hold, collected edges are skipped below.
  }
}

// ---- Execute and wait, at most 48 × 250 ms.
const started = Date.now();
let completed = false;
let failed = false;
let failure = "";
const fail = (e) => {
  if (failed || completed) return;
  failed = true;
  failure = errorText(e);
};
try {
  env.execute({ operation: query.operation }).subscribe({
    next() {},
    error: fail,
    complete() {
      if (!failed) completed = true;
    },
  });
} catch (e) {
  fail(e);
}
for (let i = 0; i < 48 && !completed && !failed; i++) await sleep(250);
if (!completed) return { ok: false, reason: failed ? failure : "timeout", execMs: Date.now() - started };

// ---- Repair each remembered connection.
const prepared = new Map();
const conns = [];
for (const old of remembered) {
  const conn = src.get(old.id);
  if (!conn || !isObj(conn.edges) || !Array.isArray(conn.edges.__refs)) {
    conns.push({ fresh: -1, appended: 0, cursorRestored: false });
    continue;
  }
  const fresh = conn.edges.__refs;
  const present = new Set(fresh.map((e) => nodeOf(src.get(e))));
  const appended = [];
  old.edges.forEach((edgeId, i) => {
    const key = old.keys[i];
    if (!key || present.has(key) || !src.get(edgeId)) return;
    present.add(key);
    appended.push(edgeId);
  });
  if (appended.length > 0) {
    prepared.set(old.id, { ...conn, edges: { ...conn.edges, __refs: fresh.concat(appended) } });
  }
  let cursorRestored = false;
  if (old.hasNext === true && old.endCursor != null && old.endCursor !== "") {
    const piLink = conn.page_info;
    const pi = get(piLink);
    if (pi && pi.end_cursor !== old.endCursor) {
      prepared.set(piLink.__ref, { ...pi, end_cursor: old.endCursor, has_next_page: true });
      cursorRestored = true;
    }
  }
  conns.push({ fresh: fresh.length, appended: appended.length, cursorRestored });
}

// ---- Publish the prepared records, through the page's own record source
// type where it takes them as they are.
if (prepared.size > 0) {
  const ids = Array.from(prepared.keys());
  const records = Object.fromEntries(prepared);
  let source = null;
  try {
    source = new src.constructor(records);
    if (typeof source.getRecordIDs !== "function" || source.getRecordIDs().length !== ids.length) source = null;
  } catch (e) {
    source = null;
  }
  if (!source) {
    source = {
      getRecordIDs: () => ids.slice(),
      get: (id) => (prepared.has(id) ? prepared.get(id) : undefined),
      has: (id) => prepared.has(id),
      getStatus: (id) => (prepared.has(id) ? "EXISTENT" : "UNKNOWN"),
      size: () => ids.length,
      toJSON: () => records,
    };
  }
  try {
    store.publish(source);
    store.notify();
  } catch (e) {
    return { ok: false, reason: "publish: " + errorText(e), execMs: Date.now() - started };
  }
}

return { ok: true, execMs: Date.now() - started, conns };
