/*
 * Test inbox page: a small Direct inbox built with the real react, react-dom,
 * react-relay and relay-runtime packages. server.mjs serves it at
 * /direct/inbox/ (and /direct/t/<key>/) and answers its GraphQL queries at
 * /api/graphql.
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
 * nopoll=1 (no server events).
 *
 * Once the rows show, the page listens to the server's events (an event
 * stream at /__test/events) and applies them to its store: each carries its
 * thread as the server has it now (through CorvidTestThreadQuery); a new
 * message also puts the thread on top of the list.
 *
 * Hook API, window.__corvidTest:
 *   loadMore()  -> Promise: the next page of the list, appended by the connection
 *   rowKeys()   -> thread keys of the rendered rows, in order
 *   applied     -> number of events applied so far
 *   appliedAt   -> Date.now() when the last event was applied (0 before)
 */
import React, { Suspense, useEffect, useState, useSyncExternalStore } from "react";
import { createRoot } from "react-dom/client";
import { RelayEnvironmentProvider, useLazyLoadQuery } from "react-relay";
import {
  ConnectionHandler, ConnectionInterface, Environment, Network, RecordSource, Store, commitLocalUpdate,
  createOperationDescriptor, fetchQuery,
} from "relay-runtime";

import {
  CONNECTION_KEY, InboxListQuery, InboxPageQuery, ThreadQuery, ViewerSettingsQuery, useSnakeCaseConnections,
} from "./inbox_queries.mjs";

useSnakeCaseConnections(ConnectionInterface);

const THREAD = "XFBIGDirectViewerThread";
const params = new URLSearchParams(location.search);
const PAGE_SIZE = Number(params.get("first")) || 20;

async function fetchGraphQL(request, variables) {
  const body = JSON.stringify({ name: request.name, variables });
  const response = await fetch("/api/graphql", { method: "POST", body });
  const answer = await response.text();
  if (!response.ok) throw new Error(`${request.name}: HTTP ${response.status} ${answer}`.trim());
  return JSON.parse(answer);
}

// The environment rendered (for the hooks; the scripts under test must find
// it through the fibers), and the badge derived from its store.
let env = null;
let badgeCount = 0;
let badgeChanged = () => {};

// Recomputes the unread state of every thread: the resolver records the
// page keeps for each thread, the inbox badge and the title.
function refreshDerived() {
  const src = env.getStore().getSource();
  const get = (link) => (link && link.__ref ? src.get(link.__ref) : {});
  const list = (link) => (link && link.__refs ? link.__refs.map((id) => src.get(id)) : []);
  const threads = src.getRecordIDs().map((id) => src.get(id)).filter((r) => r && r.__typename === THREAD);
  const unread = threads.map((t) => {
    const me = get(t.viewer).interop_messaging_user_fbid;
    const receipt = list(t.slide_read_receipts).find((r) => r.participant_fbid === me) || {};
    const messages = list(get(t["slide_messages(first:20)"]).edges).map((e) => get(e.node));
    return messages.filter((m) => m.sender_fbid !== me && m.timestamp_ms > (receipt.watermark_timestamp_ms || 0)).length;
  });
  commitLocalUpdate(env, (store) => threads.forEach((t, i) => {
    const title = list(t.users).map((u) => u.full_name || u.username).join(", ");
    const values = { client__unread_messages_count: unread[i], client__is_unread: unread[i] > 0, thread_title_fallback: title };
    for (const [name, value] of Object.entries(values)) {
      const id = `client:${t.__id}:$r:${name}`;
      const resolver = (store.get(id) || store.create(id, "__RELAY_RESOLVER__")).setValue(value, "__resolverValue");
      store.get(t.__id).setLinkedRecord(resolver, "$r:" + name);
    }
  }));
  badgeCount = unread.filter((n) => n > 0).length;
  document.title = (badgeCount > 0 ? `(${badgeCount}) ` : "") + "Chats • Instagram";
  badgeChanged();
}

const listOf = (store) =>
  ConnectionHandler.getConnection(store.getRoot().getLinkedRecord("xfb_inbox_mailbox"), CONNECTION_KEY, { folder: 0 });

// Applies an event of the server: the thread as the server has it now, and
// for a new message the thread's edge (or the inbox item wrapping it) first.
let applied = 0;
let appliedAt = 0;
function apply(e) {
  env.commitPayload(createOperationDescriptor(ThreadQuery, {}), { test_thread: e.json });
  if (e.type !== "read") commitLocalUpdate(env, (store) => {
    const conn = listOf(store);
    const edges = conn.getLinkedRecords("edges") || [];
    const holds = (edge) => {
      const node = edge && edge.getLinkedRecord("node");
      const inner = node && node.getType() !== THREAD ? node.getLinkedRecord("as_ig_direct_thread") : node;
      return !!inner && inner.getDataID() === e.record;
    };
    const edge = edges.find(holds) || ConnectionHandler.createEdge(store, conn, store.get(e.record), "XFBIGDirectThreadEdge");
    conn.setLinkedRecords([edge, ...edges.filter((x) => x !== edge)], "edges");
  });
  applied++;
  appliedAt = Date.now();
  refreshDerived();
}

const rowKeys = () => Array.from(document.querySelectorAll('a[href^="/direct/t/"]'), (a) => a.getAttribute("href").split("/")[3]);

window.__corvidTest = {
  async loadMore() {
    let after = null;
    commitLocalUpdate(env, (store) => {
      const info = listOf(store).getLinkedRecord("page_info");
      after = info.getValue("has_next_page") ? info.getValue("end_cursor") : null;
    });
    if (after === null) return false;
    await fetchQuery(env, InboxPageQuery, { after, first: PAGE_SIZE, folder: 0 }).toPromise();
    refreshDerived();
    return true;
  },
  rowKeys,
  get applied() { return applied; },
  get appliedAt() { return appliedAt; },
};

// ---- Components.
function Nav() {
  const count = useSyncExternalStore((fn) => ((badgeChanged = fn), () => {}), () => badgeCount);
  const label = count > 0 ? `Direct messaging - ${count} new notification${count > 1 ? "s" : ""} link` : "Direct messaging";
  return (
    <nav>
      <a href="/direct/inbox/" aria-label={label}>
        <svg aria-label="Messenger" width="24" height="24" />
        {count > 0 ? <div><span>{count}</span></div> : null}
      </a>
      <div role="tablist">
        {["Primary", "General", "Requests"].map((word) => <div role="tab" key={word}><span>{word}</span></div>)}
      </div>
    </nav>
  );
}

function Row({ thread, pinned }) {
  const time = new Date(Number(thread.last_activity_timestamp_ms) || 0).toISOString();
  return (
    <a href={`/direct/t/${thread.thread_key}/`} className="row">
      <div role="button" tabIndex={0}>
        <span dir="auto">{thread.thread_title || "(" + thread.thread_fbid + ")"}</span>
        {pinned ? <span aria-label="Pinned">📌</span> : null}
        <time dateTime={time}>{time.slice(11, 16)}</time>
      </div>
    </a>
  );
}

const threadOf = (node) => (!node ? null : node.__typename === THREAD ? node : node.as_ig_direct_thread || null);

function Inbox() {
  useLazyLoadQuery(ViewerSettingsQuery, {});
  const data = useLazyLoadQuery(InboxListQuery, { IGDIsProfessionalAccountGK: false, first: PAGE_SIZE, folder: 0 });
  useEffect(() => {
    refreshDerived();
    // Server events once the rows show.
    if (!params.get("nopoll")) new EventSource("/__test/events").onmessage = (m) => apply(JSON.parse(m.data));
  }, []);
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
  const [environment] = useState(
    () => new Environment({ network: Network.create(fetchGraphQL), store: new Store(new RecordSource()) }));
  env = environment;
  return (
    <RelayEnvironmentProvider environment={environment}>
      <Nav />
      <Suspense fallback={<div role="progressbar">Loading…</div>}>
        <Inbox />
      </Suspense>
    </RelayEnvironmentProvider>
  );
}

createRoot(document.getElementById("root")).render(<App />);
