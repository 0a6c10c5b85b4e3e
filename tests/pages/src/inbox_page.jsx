/*
 * Test inbox page: a small Direct inbox built with the real react, react-dom,
 * react-relay and relay-runtime packages. server.mjs serves it at
 * /direct/inbox/ (and /direct/t/<key>/), answers its GraphQL queries at
 * /api/graphql and drives it through the /__test endpoints.
 *
 * What the page holds:
 *   - a Relay environment kept in the App component's state hook (and handed
 *     down through RelayEnvironmentProvider); no page global points at it;
 *   - the list query IGDInboxListQuery (variables IGDIsProfessionalAccountGK,
 *     first, folder), retained by useLazyLoadQuery, whose mailbox carries the
 *     connection __IGDInboxTray_threads_connection(folder:0) and the pins;
 *     PolarisViewerSettingsQuery retained before it; pages loaded with
 *     IGDInboxListPaginationQuery (variable after);
 *   - thread rows as <a href="/direct/t/<key>/"> elements, an inbox link
 *     a[href="/direct/inbox/"] with the unread count in its aria-label and a
 *     span, the document title "(N) Chats • Instagram", inbox tabs;
 *   - resolver records under "$r:client__unread_messages_count",
 *     "$r:client__is_unread" and "$r:thread_title_fallback" of each thread.
 *
 * URL parameters: first=N (page size of the list query, default 20),
 * nopoll=1 (no polling of /__test/events).
 *
 * Hook API, window.__corvidTest (thread = thread_key):
 *   addIncoming({thread, text?, id?, ts?, sender?}) -> message id
 *   burst({thread, count, text?})                   -> list of message ids
 *   ownReply({thread, text?, id?, ts?})             -> message id (also reads the thread)
 *   readElsewhere({thread})                         -> marks the thread read by the viewer
 *   loadMore()            -> Promise: the next page of the list, appended by the connection
 *   resetEnvironment()    -> empties the current store and renders a fresh environment;
 *                            Promise resolved once the fresh one shows its rows
 *   ready()               -> Promise resolved once thread rows are rendered
 *   rowKeys()             -> thread keys of the rendered rows, in order
 *   badge()               -> {count, title}
 *   applied               -> number of events applied so far
 * Events applied through these functions are reported to the server with
 * POST /__test/applied, so that its model (and the next list query) agree.
 * The server side queues events (POST /__test/event, or a JSON line on the
 * server's standard input); the page polls GET /__test/events?after=N every
 * 200 ms and applies them the same way. Event objects: {type: "message" |
 * "reply" | "read" | "burst", thread, text?, id?, ts?, sender?, count?}.
 */
import React, { Suspense, useEffect, useState, useSyncExternalStore } from "react";
import { createRoot } from "react-dom/client";
import { RelayEnvironmentProvider, useLazyLoadQuery, useRelayEnvironment } from "react-relay";
import {
  ConnectionHandler, ConnectionInterface, Environment, Network, RecordSource, Store, commitLocalUpdate, fetchQuery,
} from "relay-runtime";

import { CONNECTION_KEY, InboxListQuery, InboxPageQuery, ViewerSettingsQuery, useSnakeCaseConnections } from "./inbox_queries.mjs";

useSnakeCaseConnections(ConnectionInterface);

const THREAD = "XFBIGDirectViewerThread";
const params = new URLSearchParams(location.search);
const PAGE_SIZE = Number(params.get("first")) || 20;
const LIST_VARIABLES = { IGDIsProfessionalAccountGK: false, first: PAGE_SIZE, folder: 0 };

async function fetchGraphQL(request, variables) {
  const body = JSON.stringify({ name: request.name, variables });
  const response = await fetch("/api/graphql", { method: "POST", headers: { "content-type": "application/json" }, body });
  const answer = await response.text();
  if (!response.ok) throw new Error(`${request.name}: HTTP ${response.status} ${answer}`.trim());
  return JSON.parse(answer);
}

const makeEnvironment = () =>
  new Environment({ network: Network.create(fetchGraphQL), store: new Store(new RecordSource()) });

// The environment currently rendered (for the hooks; the scripts under test
// must find it through the fibers).
let current = null;
let swapEnvironment = null;
let readyWaiters = [];

// ---- Badge and title, derived from the store.
let badgeCount = 0;
const badgeListeners = new Set();
const subscribeBadge = (fn) => (badgeListeners.add(fn), () => badgeListeners.delete(fn));

// The records of `env` of one type ("Mailbox$" matches as a pattern).
function records(env, type) {
  const src = env.getStore().getSource();
  const pattern = new RegExp(`^${type}`);
  return src.getRecordIDs().map((id) => src.get(id)).filter((r) => r && pattern.test(r.__typename || ""));
}
const threadRecords = (env) => records(env, THREAD + "$");

function findThreadID(env, key) {
  const t = threadRecords(env).find((r) => r.thread_key === key);
  if (!t) throw new Error("no thread " + key);
  return t.__id;
}

// Recomputes the unread state of every thread: the resolver records the
// page keeps for each thread, the inbox badge and the title.
function refreshDerived(env) {
  const src = env.getStore().getSource();
  const rec = (link) => (link && link.__ref ? src.get(link.__ref) : null);
  const recs = (link) => (link && link.__refs ? link.__refs.map((id) => src.get(id)).filter(Boolean) : []);
  const states = [];
  for (const t of threadRecords(env)) {
    const viewer = rec(t.viewer) || {};
    const receipt = recs(t.slide_read_receipts).find((r) => r.participant_fbid === viewer.interop_messaging_user_fbid);
    const watermark = receipt ? receipt.watermark_timestamp_ms : 0;
    const conn = rec(t["slide_messages(first:20)"]);
    const messages = conn ? recs(conn.edges).map((e) => rec(e.node)).filter(Boolean) : [];
    const unread = messages.filter((m) => m.sender_fbid !== viewer.interop_messaging_user_fbid && m.timestamp_ms > watermark).length;
    states.push({ id: t.__id, unread, title: recs(t.users).map((u) => u.full_name || u.username).join(", ") });
  }
  commitLocalUpdate(env, (store) => {
    for (const s of states) {
      const thread = store.get(s.id);
      if (!thread) continue;
      const values = { client__unread_messages_count: s.unread, client__is_unread: s.unread > 0, thread_title_fallback: s.title };
      for (const [name, value] of Object.entries(values)) {
        const r = store.get(`client:${s.id}:$r:${name}`) || store.create(`client:${s.id}:$r:${name}`, "__RELAY_RESOLVER__");
        r.setValue(value, "__resolverValue");
        thread.setLinkedRecord(r, "$r:" + name);
      }
    }
  });
  badgeCount = states.filter((s) => s.unread > 0).length;
  document.title = (badgeCount > 0 ? `(${badgeCount}) ` : "") + "Chats • Instagram";
  for (const fn of badgeListeners) fn();
}

// ---- Store changes of the hook API.
function moveToTop(store, threadID) {
  const thread = store.get(threadID);
  for (const record of records(current, ".*Mailbox$")) {
    const conn = ConnectionHandler.getConnection(store.get(record.__id), CONNECTION_KEY, { folder: 0 });
    if (!conn) continue;
    const edges = conn.getLinkedRecords("edges") || [];
    const holds = (edge) => {
      const node = edge && edge.getLinkedRecord("node");
      if (!node) return false;
      if (node.getDataID() === threadID) return true;
      const inner = node.getType() === THREAD ? null : node.getLinkedRecord("as_ig_direct_thread");
      return !!inner && inner.getDataID() === threadID;
    };
    const edge = edges.find(holds) || ConnectionHandler.createEdge(store, conn, thread, "XFBIGDirectThreadEdge");
    conn.setLinkedRecords([edge, ...edges.filter((e) => e !== edge)], "edges");
  }
}

function setViewerWatermark(thread, ts) {
  const viewer = thread.getLinkedRecord("viewer");
  const fbid = viewer ? viewer.getValue("interop_messaging_user_fbid") : null;
  for (const r of thread.getLinkedRecords("slide_read_receipts") || []) {
    if (r && r.getValue("participant_fbid") === fbid && (r.getValue("watermark_timestamp_ms") || 0) < ts) {
      r.setValue(ts, "watermark_timestamp_ms");
    }
  }
}

let liveCounter = 0;
function addMessage(env, event) {
  const threadID = findThreadID(env, event.thread);
  const id = event.id || `live.${Date.now()}.${++liveCounter}`;
  const ts = event.ts || Date.now();
  const text = event.text != null ? event.text : "New message " + id;
  commitLocalUpdate(env, (store) => {
    const thread = store.get(threadID);
    const viewerFbid = thread.getLinkedRecord("viewer").getValue("interop_messaging_user_fbid");
    const sender = event.type === "reply" ? viewerFbid : event.sender || otherParticipant(thread, viewerFbid);
    const msg = store.create("message:" + id, "XFBIGDirectMessage");
    const values = {
      id: "message:" + id, message_id: "mid.$" + id, timestamp_ms: ts, sender_fbid: sender, content_type: "TEXT",
      text_body: text, igd_snippet: text, tombstone_reason: null, expiration_timestamp_ms: null, is_reported: false,
    };
    for (const [name, value] of Object.entries(values)) msg.setValue(value, name);
    const content = store.create(`client:message:${id}:content`, "XFBIGDSlideMessageText");
    content.setValue(text, "text");
    msg.setLinkedRecord(content, "content");
    msg.setLinkedRecords([], "reactions");
    const conn = thread.getLinkedRecord("slide_messages", { first: 20 });
    const edge = store.create(`client:${threadID}:slide_messages(first:20):live:${id}`, "XFBIGDirectMessageEdge");
    edge.setLinkedRecord(msg, "node");
    conn.setLinkedRecords([edge, ...(conn.getLinkedRecords("edges") || [])], "edges");
    if ((thread.getValue("last_activity_timestamp_ms") || 0) < ts) thread.setValue(ts, "last_activity_timestamp_ms");
    if (event.type === "reply") setViewerWatermark(thread, ts);
    moveToTop(store, threadID);
  });
  return id;
}

// The fbid of the first other participant (from the thread's receipts).
function otherParticipant(thread, viewerFbid) {
  for (const r of thread.getLinkedRecords("slide_read_receipts") || []) {
    const fbid = r && r.getValue("participant_fbid");
    if (fbid && fbid !== viewerFbid) return fbid;
  }
  return "0";
}

function readThread(env, event) {
  const threadID = findThreadID(env, event.thread);
  commitLocalUpdate(env, (store) => {
    const thread = store.get(threadID);
    const edges = thread.getLinkedRecord("slide_messages", { first: 20 }).getLinkedRecords("edges") || [];
    setViewerWatermark(thread, Math.max(0, ...edges.map((e) => e?.getLinkedRecord("node")?.getValue("timestamp_ms") || 0)));
  });
}

let applied = 0;
function apply(event, report) {
  let result = null;
  if (event.type === "message" || event.type === "reply") {
    result = addMessage(current, event);
    report({ ...event, id: result, ts: event.ts || Date.now() });
  } else if (event.type === "burst") {
    const base = Date.now();
    result = Array.from({ length: event.count || 2 }, (_, i) => {
      const text = (event.text || "Burst message") + " " + (i + 1);
      const one = { type: "message", thread: event.thread, text, ts: base + i, id: event.id && `${event.id}.${i}` };
      const id = addMessage(current, one);
      report({ ...one, id });
      return id;
    });
  } else if (event.type === "read") {
    readThread(current, event);
    report(event);
  } else {
    throw new Error("unknown event " + event.type);
  }
  applied++;
  refreshDerived(current);
  return result;
}

const reportToServer = (event) => fetch("/__test/applied", { method: "POST", body: JSON.stringify(event) }).catch(() => {});

const rowKeys = () =>
  Array.from(document.querySelectorAll('a[href^="/direct/t/"]'), (a) => a.getAttribute("href").split("/")[3]);

window.__corvidTest = {
  addIncoming: (e) => apply({ ...e, type: "message" }, reportToServer),
  burst: (e) => apply({ ...e, type: "burst" }, reportToServer),
  ownReply: (e) => apply({ ...e, type: "reply" }, reportToServer),
  readElsewhere: (e) => apply({ ...e, type: "read" }, reportToServer),
  async loadMore() {
    const env = current;
    const src = env.getStore().getSource();
    const link = (record, key) => (record && record[key] ? src.get(record[key].__ref) : null);
    const mailbox = link(src.get("client:root"), "xfb_inbox_mailbox");
    const conn = link(mailbox, `__${CONNECTION_KEY}_connection(folder:0)`);
    const pageInfo = link(conn, "page_info");
    if (!pageInfo || !pageInfo.has_next_page) return false;
    await fetchQuery(env, InboxPageQuery, { after: pageInfo.end_cursor, first: PAGE_SIZE, folder: 0 }).toPromise();
    refreshDerived(env);
    return true;
  },
  resetEnvironment() {
    const fresh = makeEnvironment();
    current.getStore().getSource().clear();
    swapEnvironment(fresh);
    return new Promise((resolve) => readyWaiters.push({ env: fresh, resolve }));
  },
  ready() {
    if (rowKeys().length > 0) return Promise.resolve(true);
    return new Promise((resolve) => readyWaiters.push({ env: null, resolve }));
  },
  rowKeys,
  badge: () => ({ count: badgeCount, title: document.title }),
  get applied() {
    return applied;
  },
};

// ---- Components.
function Nav() {
  const count = useSyncExternalStore(subscribeBadge, () => badgeCount);
  return (
    <nav>
      <a href="/" aria-label="Home">
        <span>Home</span>
      </a>
      <a
        href="/direct/inbox/"
        aria-label={count > 0 ? `Direct messaging - ${count} new notification${count > 1 ? "s" : ""} link` : "Direct messaging"}
      >
        <svg aria-label="Messenger" width="24" height="24" />
        {count > 0 ? <div><span>{count}</span></div> : null}
      </a>
    </nav>
  );
}

function Tabs() {
  return (
    <div role="tablist">
      {["Primary", "General", "Requests"].map((word) => (
        <div role="tab" key={word}>
          <span>{word}</span>
        </div>
      ))}
    </div>
  );
}

const threadOf = (node) => (!node ? null : node.__typename === THREAD ? node : node.as_ig_direct_thread || null);

function Row({ thread, pinned }) {
  const ts = Number(thread.last_activity_timestamp_ms) || 0;
  return (
    <a href={`/direct/t/${thread.thread_key}/`} className="row">
      <div role="button" tabIndex={0}>
        <span dir="auto">{thread.thread_title || "(" + thread.thread_fbid + ")"}</span>
        {pinned ? <span aria-label="Pinned">📌</span> : null}
        <time dateTime={new Date(ts).toISOString()}>{new Date(ts).toISOString().slice(11, 16)}</time>
      </div>
    </a>
  );
}

function Inbox() {
  const env = useRelayEnvironment();
  useLazyLoadQuery(ViewerSettingsQuery, {});
  const data = useLazyLoadQuery(InboxListQuery, LIST_VARIABLES);
  useEffect(() => refreshDerived(env), [env]);
  useEffect(() => {
    if (rowKeys().length === 0) return;
    const due = readyWaiters.filter((w) => w.env === null || w.env === env);
    readyWaiters = readyWaiters.filter((w) => !due.includes(w));
    for (const w of due) w.resolve(true);
  });
  // Pins first, then the connection; each thread once.
  const mailbox = data.xfb_inbox_mailbox || {};
  const pins = (mailbox.pinned_threads_v2 || []).map((p) => [p && p.thread, true]);
  const listed = ((mailbox.threads && mailbox.threads.edges) || []).map((e) => [threadOf(e && e.node), false]);
  const seen = new Set();
  const rows = [...pins, ...listed].filter(([t]) => t && !seen.has(t.id) && seen.add(t.id));
  return <div aria-label="Thread list">{rows.map(([t, pinned]) => <Row key={t.id} thread={t} pinned={pinned} />)}</div>;
}

function App() {
  // The page's environment lives in this state hook.
  const [environment, setEnvironment] = useState(makeEnvironment);
  current = environment;
  swapEnvironment = setEnvironment;
  return (
    <RelayEnvironmentProvider environment={environment}>
      <Nav />
      <Tabs />
      <Suspense fallback={<div role="progressbar">Loading…</div>}>
        <Inbox />
      </Suspense>
    </RelayEnvironmentProvider>
  );
}

createRoot(document.getElementById("root")).render(<App />);

// ---- Server-driven events.
// Polling starts once the list is shown, so that no event arrives before
// its thread is in the store.
if (!params.get("nopoll")) window.__corvidTest.ready().then(() => {
  let after = 0;
  let busy = false;
  setInterval(async () => {
    if (busy || !current) return;
    busy = true;
    try {
      const response = await fetch("/__test/events?after=" + after);
      const { events } = await response.json();
      for (const e of events) {
        after = Math.max(after, e.seq);
        try { apply(e.event, () => {}); } catch (err) { console.error("event", e.seq, err); }
      }
    } catch (err) {
      // The server is gone or restarting; try again on the next beat.
    } finally {
      busy = false;
    }
  }, 200);
});
