// Inbox snapshot: reads the Direct thread list out of the inbox page's own
// Relay record store and returns it as one plain object.
//
// Runs as the body of an async function in the page's own world, with the
// named arguments `selector` (CSS selector list of thread rows, start points
// of the React fiber walk), `limit` (rows returned) and `recent` (recent
// entries per row, at most 10), and optionally `unchangedSince` (below).
// Returns null when the page has no Relay environment to read. State kept
// between runs: window.__halvyRelayEnv (the environment found),
// window.__halvyInboxTabs (the tab probe of a path) and
// window.__halvyReadMark (the store read and the mark naming it).
//
// Missing records, links and fields fall back to empty values; errors thrown
// by the store's own functions once the environment was accepted are not
// caught and reach the caller as a script error.

const THREAD = "XFBIGDirectViewerThread";
const MAX_SAFE = 9007199254740991;
const now = Date.now();

const text = (v) => (v == null ? "" : String(v));
const num = (v) => {
  if (v == null) return 0;
  const n = Number(v);
  return n || 0;
};
const norm = (s) => s.replace(/\s+/g, " ").trim();
const isObj = (v) => v !== null && typeof v === "object";
const isEnv = (v) => isObj(v) && typeof v.getStore === "function" && typeof v.execute === "function";

const recentN = typeof recent === "number" && recent > 0 ? Math.min(recent, 10) : 0;

// ---- 1. The environment: the cached one while its store holds records,
// otherwise found again through the React fibers of the thread rows.
let env = window.__halvyRelayEnv;
if (env) {
  let usable = false;
  try {
    const ids = env.getStore().getSource().getRecordIDs();
    usable = Array.isArray(ids) && ids.length > 0;
  } catch (e) {
    usable = false;
  }
  if (!usable) {
    env = null;
    window.__halvyRelayEnv = null;
  }
}

const fiberOf = (el) => {
  for (const k of Object.keys(el)) {
    if (k.startsWith("__reactFiber$")) return el[k];
  }
  return null;
};

const envFrom = (start) => {
  let fiber = start;
  for (let i = 0; i < 400 && isObj(fiber); i++) {
    let hook = fiber.memoizedState;
    for (let j = 0; j < 30; j++) {
      if (!isObj(hook)) break;
      const s = hook.memoizedState;
      if (isObj(s)) {
        if (isEnv(s)) return s;
        if (isEnv(s.environment)) return s.environment;
      }
      hook = hook.next;
    }
    fiber = fiber.return;
  }
  return null;
};

const firstMatches = (sel, n) => {
  if (typeof sel !== "string" || sel === "") return [];
  let list;
  try {
    list = document.querySelectorAll(sel);
  } catch (e) {
    return [];
  }
  const out = [];
  for (let i = 0; i < list.length && out.length < n; i++) out.push(list[i]);
  return out;
};

if (!env) {
  let starts = firstMatches(selector, 3);
  if (starts.length === 0) starts = firstMatches('div[role=button], a[href^="/direct/"]', 20);
  for (const el of starts) {
    const fiber = fiberOf(el);
    const found = fiber ? envFrom(fiber) : null;
    if (found) {
      env = found;
      break;
    }
  }
  if (!env) return null;
  window.__halvyRelayEnv = env;
}

// ---- The store has taken no write since an earlier full read: a short
// answer. `unchangedSince` (optional) names that read by its `mark` and
// `epoch`; the mark stands for one store object of this document, so a
// reload or a replaced store always gets a full read.
const store = env.getStore();
let readMark = window.__halvyReadMark;
if (!isObj(readMark) || readMark.store !== store) {
  readMark = { store, id: Date.now().toString(36) + Math.random().toString(36).slice(2) };
  window.__halvyReadMark = readMark;
}
let epoch = null;
try {
  const e = typeof store.getEpoch === "function" ? store.getEpoch() : null;
  if (typeof e === "number" && Number.isFinite(e)) epoch = e;
} catch (e) {
  epoch = null;
}
if (typeof unchangedSince !== "undefined" && isObj(unchangedSince) && epoch !== null &&
    unchangedSince.mark === readMark.id && unchangedSince.epoch === epoch) {
  return { source: "unchanged", mark: readMark.id, epoch };
}

// ---- 2. Classify the records (one scan of the record source).
const src = store.getSource();
const get = (link) => {
  if (!isObj(link) || link.__ref == null) return null;
  return src.get(link.__ref) || null;
};
const refs = (link) => {
  if (!isObj(link) || !Array.isArray(link.__refs)) return [];
  const out = [];
  for (const id of link.__refs) {
    const r = src.get(id);
    if (r) out.push(r);
  }
  return out;
};
// Reaction lists are record lists; a plain array of records is read too.
const listOf = (v) => {
  if (Array.isArray(v)) {
    const out = [];
    for (const e of v) {
      const r = isObj(e) && e.__ref != null ? get(e) : e;
      if (isObj(r)) out.push(r);
    }
    return out;
  }
  return refs(v);
};

const allThreads = [];
const mailboxes = [];
for (const id of src.getRecordIDs()) {
  const r = src.get(id);
  if (!r) continue;
  const type = r.__typename;
  if (type === THREAD) allThreads.push(r);
  else if (typeof type === "string" && type.endsWith("Mailbox")) mailboxes.push(r);
}

const isConnKey = (k) => k.startsWith("__") && k.includes("_connection(") && !k.includes("PENDING");

// ---- 3. Mailbox connections, the longest first.
const conns = [];
for (const mb of mailboxes) {
  for (const key of Object.keys(mb)) {
    if (!isConnKey(key)) continue;
    const conn = get(mb[key]);
    if (conn && isObj(conn.edges) && Array.isArray(conn.edges.__refs)) {
      conns.push({ key, conn, count: conn.edges.__refs.length });
    }
  }
}
conns.sort((a, b) => b.count - a.count);
const connKey = conns.length > 0 ? conns[0].key : "";

const idOf = (t) => text(t.thread_key) || text(t.thread_fbid) || text(t.thread_id) || text(t.id);
const threadOfNode = (node) => {
  if (!node) return null;
  if (node.__typename === THREAD) return node;
  for (const k of Object.keys(node)) {
    const v = node[k];
    if (isObj(v) && v.__ref != null) {
      const r = get(v);
      if (r && r.__typename === THREAD) return r;
    }
  }
  return null;
};

// ---- 4. Pinned threads, in mailbox order, duplicates kept.
const pinned = [];
for (const mb of mailboxes) {
  const p = mb.pinned_threads_v2 != null ? mb.pinned_threads_v2 : mb.pinned_threads;
  let entries = [];
  if (isObj(p) && Array.isArray(p.__refs)) entries = refs(p);
  else if (isObj(p) && p.__ref != null) {
    const one = get(p);
    if (one) entries = [one];
  }
  for (const entry of entries) {
    const t =
      entry.__typename === THREAD
        ? entry
        : get(entry.as_ig_direct_thread) || get(entry.thread) || get(entry.node);
    if (t && t.__typename === THREAD) pinned.push(t);
  }
}

// ---- 5. Walk the connections: the leader decides the order, later ones
// only append threads the earlier ones lack.
let hasNext = null;
const masks = new Map();
const connThreads = [];
const connInfo = [];
const nodeTypes = new Map();
conns.forEach((c, i) => {
  const pi = get(c.conn.page_info);
  const more = pi && typeof pi.has_next_page === "boolean" ? pi.has_next_page : null;
  if (i === 0 && more !== null) hasNext = more;
  const bit = 1 << Math.min(i, 30);
  let added = 0;
  for (const edge of refs(c.conn.edges)) {
    const node = get(edge.node);
    const t = threadOfNode(node);
    if (t) {
      const id = idOf(t);
      if (id) {
        const had = masks.get(id);
        masks.set(id, (had || 0) | bit);
        if (had === undefined) {
          connThreads.push(t);
          added++;
        }
      }
    } else {
      const type = node ? text(node.__typename) || "?" : "null";
      nodeTypes.set(type, (nodeTypes.get(type) || 0) + 1);
    }
  }
  connInfo.push(
    c.key.replace(/[0-9]{4,}/g, "N").slice(0, 200) +
      " edges " + c.count + " new " + added + " next " + (more === null ? "?" : more),
  );
});

// ---- 6. Orphans: store threads in no connection and not pinned.
const pinnedIds = new Set(pinned.map(idOf));
const orphanCounts = new Map();
const orphans = [];
let orphanTotal = 0;
for (const t of allThreads) {
  const id = idOf(t);
  if (!id || masks.has(id) || pinnedIds.has(id)) continue;
  orphanTotal++;
  const sys = text(t.system_folder) || "-";
  const folder = t.folder == null ? "-" : text(t.folder);
  const fkey = sys + "/" + folder + "/" + (t.is_group ? "g" : "d");
  orphanCounts.set(fkey, (orphanCounts.get(fkey) || 0) + 1);
  if (orphans.length < 12) {
    const activity = num(t.last_activity_timestamp_ms);
    orphans.push({
      fbid: text(t.thread_fbid),
      keyLen: text(t.thread_key).length,
      titleLen: text(t.thread_title).length,
      group: !!t.is_group,
      folder,
      sys,
      ageDays: activity > 0 ? Math.round((now - activity) / 86400000) : -1,
    });
  }
}
let orphanInfo = String(orphanTotal);
if (orphanTotal > 0) {
  orphanInfo += " [" + Array.from(orphanCounts, ([k, n]) => k + ":" + n).join(" ") + "]";
}

// ---- 7. The list: pins first, then the connections; "pending" while the
// mailbox has nothing listed yet; all inbox threads without a mailbox.
let list = pinned.concat(connThreads);
if (list.length === 0 && mailboxes.length > 0) {
  return { threads: [], total: 0, hasNext: null, source: "pending", connKey: "", viewerUsername: "" };
}
const source = list.length > 0 ? "connection" : "all";
if (source === "all") list = allThreads.filter((t) => text(t.system_folder) === "INBOX");

const viewerUsername = list.length > 0 ? text((get(list[0].viewer) || {}).username) : "";

const seenIds = new Set();
const threads = [];
let noKeyCount = 0;
for (const t of list) {
  const id = idOf(t);
  if (!id || seenIds.has(id)) continue;
  seenIds.add(id);
  threads.push(t);
  if (text(t.thread_key) === "") noKeyCount++;
}

// ---- 8. One row per thread.
const msgIdOf = (m) => text(m.message_id) || text(m.id);
const contentTypeName = (m) => {
  const c = get(m.content);
  if (!c) return "null";
  return text(c.__typename) || "?";
};
const resolved = (t, name) => {
  const r = get(t["$r:" + name]);
  if (!r || r.__resolverValue === undefined || r.__resolverError) return null;
  return r.__resolverValue;
};
const firstText = (r, keys) => {
  for (const k of keys) {
    const s = text(r[k]);
    if (s) return s;
  }
  return "";
};
const snippetOf = (m) => norm(text(m.igd_snippet) || text(m.text_body));

const unavailableOf = (m) => !!m.tombstone_reason || /unavailable/i.test(text(m.igd_snippet));
const emptyTextOf = (m) => {
  if (text(m.content_type) !== "TEXT" || text(m.text_body).trim() !== "") return false;
  const c = get(m.content);
  return !!c && text(c.__typename).endsWith("SlideMessageText");
};
const NOT_COUNTABLE = /ADMIN|_LOG_|TOMBSTONE|_XMAT$/;
const folderText = (v) => (v == null || v === "" || v === 0 || v === "0" ? "" : String(v));
const ACTOR_KEYS = ["sender_fbid", "actor_fbid", "user_fbid", "sender_id", "actor_id", "user_id"];
const EMOJI_KEYS = ["emoji", "reaction", "reaction_emoji", "text"];

// What one message is, worked out once per run of a row.
const messageFacts = (m, viewerIds) => {
  const sender = text(m.sender_fbid);
  return {
    m,
    id: msgIdOf(m),
    ts: num(m.timestamp_ms),
    sender,
    mine: viewerIds.includes(sender),
    log: false,
    snippet: null,
  };
};

// The preview text of a message, normalised once.
const snippetOfFacts = (f) => {
  if (f.snippet === null) f.snippet = snippetOf(f.m);
  return f.snippet;
};

const describe = (f) => {
  if (!f) return "none";
  const m = f.m;
  const exp = num(m.expiration_timestamp_ms);
  return (
    "mine=" + f.mine +
    " type=" + text(m.content_type) +
    " content=" + contentTypeName(m) +
    " text=" + text(m.text_body).length +
    " snip=" + text(m.igd_snippet).trim().length +
    " tomb=" + (m.tombstone_reason ? "y" : "n") +
    " expired=" + (exp > 0 && exp < now ? "y" : "n") +
    " reported=" + !!m.is_reported +
    " rlog=" + f.log
  );
};

const rowOf = (t) => {
  const viewer = get(t.viewer) || {};
  const viewerFbid = text(viewer.interop_messaging_user_fbid);
  const viewerIds = [viewerFbid, text(viewer.id), text(viewer.pk), text(t.viewer_id)].filter(
    (s) => s !== "" && s !== "0",
  );
  // Comparisons against the viewer's fbid alone need a known fbid.
  const isViewerFbid = (s) => viewerFbid !== "" && s === viewerFbid;

  // Messages of every message connection, each id once.
  const kept = [];
  const seenMsg = new Set();
  const msgInfo = [];
  for (const key of Object.keys(t)) {
    if (!key.includes("slide_messages")) continue;
    const conn = get(t[key]);
    let found = 0;
    let newest = null;
    if (conn) {
      for (const edge of refs(conn.edges)) {
        const m = get(edge.node);
        if (!m) continue;
        found++;
        const f = messageFacts(m, viewerIds);
        if (newest === null || f.ts > newest) newest = f.ts;
        if (seenMsg.has(f.id)) continue;
        seenMsg.add(f.id);
        kept.push(f);
      }
    }
    const age = newest === null ? -1 : Math.round((now - newest) / 1000);
    msgInfo.push(key.replace("slide_messages", "sm").slice(0, 40) + ":" + found + ":" + age + "s");
  }

  // Reactions: which messages are reaction logs, and the latest reaction.
  const logIds = new Set();
  let best = null;
  let reactionKeys = null;
  const seeReaction = (r, f) => {
    if (reactionKeys === null) reactionKeys = Object.keys(r).filter((k) => !k.startsWith("__")).join(",");
    const lid = text(r.log_message_id);
    if (lid) logIds.add(lid);
    const time = num(r.timestamp_ms) || num(r.created_at_ms) || num(r.timestamp);
    if (best === null || time > best.time) best = { time, r, f };
  };
  for (const f of kept) {
    const m = f.m;
    if (m.reactions != null) for (const r of listOf(m.reactions)) seeReaction(r, f);
    if (m.msg_reactions != null) for (const r of listOf(m.msg_reactions)) seeReaction(r, f);
  }
  if (logIds.size > 0) for (const f of kept) f.log = logIds.has(f.id);

  const sorted = kept.slice().sort((a, b) => b.ts - a.ts);
  const displayable = sorted.filter((f) => (f.mine ? !unavailableOf(f.m) : !emptyTextOf(f.m)));
  const newestMsg = sorted.length > 0 ? sorted[0] : null;
  let last = displayable.length > 0 ? displayable[0] : newestMsg;
  let previewKind = "message";
  if (last && last.log) {
    if (last.mine) {
      const other = displayable.find((f) => !f.log);
      if (other) {
        last = other;
        previewKind = "after-my-reaction";
      }
    } else {
      previewKind = "reaction";
    }
  }

  const receipt = refs(t.slide_read_receipts).find((r) => isViewerFbid(text(r.participant_fbid)));
  // A receipt without a watermark gives NaN: no message counts as newer.
  const watermark = receipt ? Number(receipt.watermark_timestamp_ms) : 0;

  const unreadMsgs = [];
  let unreadAny = false;
  for (const f of sorted) {
    if (f.mine || !(f.ts > watermark)) continue;
    unreadAny = true;
    if (!f.log && !NOT_COUNTABLE.test(text(f.m.content_type)) && !unavailableOf(f.m)) unreadMsgs.push(f);
  }

  const lm = last ? last.m : null;
  const signature = lm
    ? [
        last.mine ? "me" : "them",
        text(lm.content_type),
        contentTypeName(lm),
        text(lm.text_body) !== "" ? "text" : "notext",
        text(lm.igd_snippet).trim().replace(/[A-Za-z\uAC00-\uD7A3]/g, "x"),
      ].join("|")
    : "";

  const unreadCountV = resolved(t, "client__unread_messages_count");
  const isUnreadV = resolved(t, "client__is_unread");
  const titleV = resolved(t, "thread_title_fallback");

  const users = refs(t.users);
  const title = text(t.thread_title) || users.map((u) => text(u.full_name) || text(u.username)).join(", ");
  let avatars;
  if (text(t.thread_image_url) !== "") avatars = [text(t.thread_image_url)];
  else {
    avatars = [];
    for (const u of users) {
      if (avatars.length >= 2) break;
      const pic = text(u.profile_pic_url);
      if (pic) avatars.push(pic);
    }
  }

  const lastTs = last ? last.ts : 0;
  const reactionTs = best ? best.time : 0;
  const activityTs = num(t.last_activity_timestamp_ms);
  const id = idOf(t);

  const row = {
    key: text(t.thread_key),
    id,
    fbid: text(t.thread_fbid),
    connMask: masks.get(id) || 0,
    recIdLen: text(t.id).length,
    title,
    username: !t.is_group && users.length === 1 ? text(users[0].username) : "",
    members: users.slice(0, 60).map((u) => ({
      username: text(u.username),
      fullName: text(u.full_name),
      avatar: text(u.profile_pic_url),
      verified: !!u.is_verified,
    })),
    snippet: last ? snippetOfFacts(last) : "",
    previewKind,
    newestInfo: describe(newestMsg),
    lastInfo: describe(last),
    skipped: !!last && last !== newestMsg,
    signature,
    resolvedUnreadCount: typeof unreadCountV === "number" ? unreadCountV : -1,
    resolvedIsUnread: typeof isUnreadV === "boolean" ? isUnreadV : null,
    resolvedTitle: typeof titleV === "string" ? titleV : "",
    contentType: lm ? text(lm.content_type) : "",
    lastId: last ? last.id : "",
    lastMine: last ? last.mine : false,
    unreadCount: unreadMsgs.length,
    fetchedMessages: kept.length,
    lastTs,
    watermark,
    hasReceipt: !!receipt,
    markedUnread: !!t.marked_as_unread,
    msgInfo: msgInfo.join(" ") + " unreadTypes=" + unreadMsgs.map((f) => text(f.m.content_type) || "?").join(","),
    unreadSenders: unreadMsgs.length > 1 ? new Set(unreadMsgs.map((f) => f.sender)).size : unreadMsgs.length,
    reactionTs,
    reactionEmoji: best ? firstText(best.r, EMOJI_KEYS) : "",
    reactionByMe: best ? isViewerFbid(firstText(best.r, ACTOR_KEYS)) : false,
    reactionOnMine: best ? isViewerFbid(best.f.sender) : false,
    reactionKeys: reactionKeys || "",
    ts: Math.max(activityTs, lastTs, reactionTs),
    sortBase: activityTs !== 0 ? activityTs : Math.max(lastTs, reactionTs),
    activityTs,
    unread: !!t.marked_as_unread || unreadAny,
    isGroup: !!t.is_group,
    isPin: !!t.is_pin,
    isMuted: !!t.is_muted,
    folder: folderText(t.folder),
    systemFolder: folderText(t.system_folder),
    avatars,
    sortTs: 0,
    order: 0,
    fromConnection: source === "connection",
  };
  if (recentN > 0) {
    row.recent = displayable
      .filter((f) => !f.mine)
      .slice(0, recentN)
      .map((f) => ({ id: f.id, ts: f.ts, snippet: snippetOfFacts(f) }));
  }
  return row;
};

const rows = threads.map(rowOf);

// ---- 9. Final order and the sort-time carry.
if (source === "all") rows.sort((a, b) => Number(b.isPin) - Number(a.isPin) || b.ts - a.ts);
let carry = MAX_SAFE;
rows.forEach((row, i) => {
  if (row.sortBase > 0) carry = row.sortBase;
  row.sortTs = carry;
  row.order = i;
});

// ---- 10. Tab probe, once per location path.
const path = location.pathname;
let probe = window.__halvyInboxTabs;
if (!isObj(probe) || probe.path !== path) {
  const words = ["Primary", "General", "Requests", "Channels", "기본", "일반", "요청"];
  const leafTexts = new Set();
  for (const el of document.querySelectorAll("span, div[role=button], div[role=tab], a")) {
    if (el.childElementCount === 0) leafTexts.add(text(el.textContent).trim());
  }
  probe = { path, found: words.filter((w) => leafTexts.has(w)) };
  window.__halvyInboxTabs = probe;
}

return {
  threads: typeof limit === "number" && limit >= 0 ? rows.slice(0, limit) : rows,
  total: rows.length,
  hasNext,
  source,
  connKey: connKey.slice(0, 80),
  viewerUsername,
  pinnedCount: pinned.length,
  noKeyCount,
  connInfo: connInfo.join(" | "),
  nodeInfo: nodeTypes.size > 0 ? Array.from(nodeTypes, ([k, n]) => k + ":" + n).join(",") : "-",
  orphanInfo,
  orphans,
  tabs: (Array.isArray(probe.found) ? probe.found : []).join(","),
  mark: readMark.id,
  epoch,
};
